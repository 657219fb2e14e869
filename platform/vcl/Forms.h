#pragma once
// Forms and the application object over Qt Widgets. Data modules (rtl/Classes.h)
// may also be created and owned by the application (Application->CreateForm); while the
// application object exists, it handles the exceptions of their handlers.

#include <rtl/Classes.h>
#include <rtl/SysUtils.h>
#include <rtl/System.h>

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

class QCloseEvent;
class QShowEvent;

using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

// A top-level window. The creation handler runs after construction, the destruction handler
// before it; closing asks OnCloseQuery first. Closing the application's main form ends the
// message loop.
class TForm : public QWidget, public TObject {
    Q_OBJECT
public:
    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;
    TCloseQueryEvent OnCloseQuery;

    virtual void AfterConstruction();
    virtual void BeforeDestruction();

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& AValue) { setWindowTitle(AValue); }
    // The control that gets the focus when the form is shown.
    void SetActiveControl(QWidget* AControl) { FActiveControl = AControl; }
    // Centred on the screen when it is first shown.
    void SetPositionScreenCenter(bool AValue) { FScreenCenter = AValue; }

    // Asks OnCloseQuery; answers whether the form closed.
    bool Close() { return close(); }

protected:
    TForm();

    void closeEvent(QCloseEvent* AEvent) override;
    void showEvent(QShowEvent* AEvent) override;

private:
    QPointer<QWidget> FActiveControl;
    bool FScreenCenter = false;
    bool FShownOnce = false;
};

// The application object. It exists from the unit's initialisation to its finalisation,
// over a QApplication that the program (or the test) made before.
class TApplication : public TObject {
public:
    TApplication();
    ~TApplication() override;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Prepares the application: the platform's fonts, no quitting when some other window
    // closes (only the main form's closing ends the loop).
    void Initialize();

    // The desktop gives the main form its own taskbar entry whatever this says.
    void SetMainFormOnTaskBar(bool) {}

    // Creates an instance of T owned by the application. AReference holds the instance from
    // before its construction; it is emptied again when the construction raises. The first
    // form created becomes the main form and gets its window at once.
    template <class T>
    void CreateForm(T*& AReference);

    // Shows the main form and runs the message loop until the application is terminated.
    void Run();
    void Terminate();
    bool Terminated() const { return FTerminated; }

    TForm* MainForm() const { return FMainForm; }
    // Milliseconds for which a hint stays shown.
    int HintHidePause() const { return FHintHidePause; }
    void SetHintHidePause(int AValue) { FHintHidePause = AValue; }
    // The application's window: the main form's, once it has one.
    void* Handle() const;

    // The message of the exception being handled, reported through qCritical and in an error
    // box; call it in a catch block.
    void HandleException(TObject* Sender);
    void ShowException(const QString& AMessage);

    // Destroys what the application owns, the last created first.
    void DestroyComponents();

private:
    void Own(TObject* AInstance, std::function<void()> ADestroy);
    void SetMainForm(TForm* AForm);

    struct TOwnedComponent {
        TObject* Instance;
        std::function<void()> Destroy;
    };
    std::vector<TOwnedComponent> FComponents;
    TForm* FMainForm = nullptr;
    bool FTerminated = false;
    bool FRunning = false;
    int FHintHidePause = 2500;
};

// The application object; null outside the unit's lifetime.
extern TApplication* Application;

namespace Vcl_Forms {
void Initialization();
void Finalization();
}  // namespace Vcl_Forms

template <class T>
void TApplication::CreateForm(T*& AReference)
{
    static_assert(std::is_base_of_v<TForm, T> || std::is_base_of_v<TDataModule, T>,
                  "CreateForm makes forms and data modules");
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    void* memory = ::operator new(sizeof(T));
    AReference = static_cast<T*>(memory);
    T* instance = nullptr;
    try {
        instance = ::new (memory) T();
    } catch (...) {
        AReference = nullptr;
        ::operator delete(memory);
        throw;
    }
    Own(instance, [instance] {
        instance->BeforeDestruction();
        delete instance;
    });
    // The creation handlers catch what they raise: nothing leaves AfterConstruction.
    instance->AfterConstruction();
    if constexpr (std::is_base_of_v<TForm, T>)
        if (!FMainForm)
            SetMainForm(instance);
}
