#include "Forms.h"

#include "Dialogs.h"
#include "Fonts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include <exception>

TApplication* Application = nullptr;

TForm::TForm() : QWidget(nullptr)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void TForm::AfterConstruction()
{
    if (OnCreate)
        DispatchHandler(this, [this] { OnCreate(this); });
}

void TForm::BeforeDestruction()
{
    if (OnDestroy)
        DispatchHandler(this, [this] { OnDestroy(this); });
}

void TForm::closeEvent(QCloseEvent* AEvent)
{
    bool canClose = true;
    // A handler that raises keeps the form open.
    if (OnCloseQuery && !DispatchHandler(this, [&] { OnCloseQuery(this, canClose); }))
        canClose = false;
    if (!canClose) {
        AEvent->ignore();
        return;
    }
    AEvent->accept();
    if (Application && Application->MainForm() == this)
        Application->Terminate();
}

void TForm::showEvent(QShowEvent* AEvent)
{
    QWidget::showEvent(AEvent);
    if (FShownOnce)
        return;
    FShownOnce = true;
    if (FScreenCenter)
        if (QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            const QSize frame = frameGeometry().size();
            move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
        }
    if (FActiveControl)
        FActiveControl->setFocus(Qt::ActiveWindowFocusReason);
}

TApplication::TApplication() = default;

TApplication::~TApplication()
{
    DestroyComponents();
}

void TApplication::Initialize()
{
    RegisterPlatformFonts();
    // Only the main form's closing ends the loop, not the last message box of the start-up.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        app->setQuitOnLastWindowClosed(false);
}

void TApplication::Own(TObject* AInstance, std::function<void()> ADestroy)
{
    FComponents.push_back({AInstance, std::move(ADestroy)});
}

void TApplication::SetMainForm(TForm* AForm)
{
    FMainForm = AForm;
    AForm->winId();
}

void TApplication::Run()
{
    if (FTerminated || !FMainForm)
        return;
    FMainForm->show();
    FRunning = true;
    QCoreApplication::exec();
    FRunning = false;
}

void TApplication::Terminate()
{
    FTerminated = true;
    QCoreApplication::exit(0);
}

void* TApplication::Handle() const
{
    return FMainForm ? reinterpret_cast<void*>(FMainForm->winId()) : nullptr;
}

void TApplication::HandleException(TObject*)
{
    ShowException(ExceptionMessage());
}

void TApplication::ShowException(const QString& AMessage)
{
    qCritical("%s", qUtf8Printable(AMessage));
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        MessageDlg(AMessage, mtError, {mbOK}, 0);
}

void TApplication::DestroyComponents()
{
    while (!FComponents.empty()) {
        TOwnedComponent component = std::move(FComponents.back());
        FComponents.pop_back();
        if (component.Instance == FMainForm)
            FMainForm = nullptr;
        component.Destroy();
    }
}

void Vcl_Forms::Initialization()
{
    Application = new TApplication;
    SetApplicationHandleException([](TObject* Sender) { Application->HandleException(Sender); });
}

void Vcl_Forms::Finalization()
{
    SetApplicationHandleException(nullptr);
    delete Application;
    Application = nullptr;
}
