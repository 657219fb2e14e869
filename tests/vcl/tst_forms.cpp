// The application object over Qt: creation into the reference variable, the main form,
// destruction in reverse order, the exception handling as an error box, the message loop
// that closing the main form ends.

#include <rtl/SysUtils.h>
#include <vcl/Dialogs.h>
#include <vcl/Forms.h>
#include <vcl/StdCtrls.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace {

QStringList Trace;
QStringList Boxes;

// Presses the first button of every message box as it shows, after noting its text.
class TBoxCloser : public QObject {
protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override
    {
        if (AEvent->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(AWatched)) {
                Boxes << box->text();
                QPointer<QMessageBox> guard(box);
                QTimer::singleShot(0, box, [guard] {
                    if (guard)
                        guard->buttons().first()->click();
                });
            }
        return false;
    }
};

class TModuleA;
class TFormB;
class TModuleC;
TModuleA* ModuleA = nullptr;
TFormB* FormB = nullptr;
TModuleC* ModuleC = nullptr;
bool RaiseInConstructor = false;

class TModuleA : public TDataModule {
public:
    TModuleA()
    {
        Trace << QString("construct A, variable %1").arg(ModuleA == this ? "set" : "empty");
        if (RaiseInConstructor)
            throw Exception("A cannot be made");
        OnCreate = [](TObject*) { Trace << "create A"; };
        OnDestroy = [](TObject*) { Trace << "destroy A"; };
    }
};

class TFormB : public TForm {
public:
    TFormB()
    {
        Trace << QString("construct B, variable %1").arg(FormB == this ? "set" : "empty");
        OnCreate = [](TObject*) { throw Exception("B's creation handler failed"); };
        OnDestroy = [](TObject*) { Trace << "destroy B"; };
    }
};

class TModuleC : public TDataModule {
public:
    TModuleC()
    {
        OnCreate = [](TObject*) { Trace << "create C"; };
        OnDestroy = [](TObject*) {
            Trace << "destroy C";
            throw Exception("C's destruction handler failed");
        };
    }
};

}  // namespace

class TestForms : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        Trace.clear();
        Boxes.clear();
        ModuleA = nullptr;
        FormB = nullptr;
        ModuleC = nullptr;
        RaiseInConstructor = false;
        qApp->installEventFilter(&FCloser);
        Vcl_Forms::Initialization();
        Application->Initialize();
    }
    void cleanup()
    {
        Vcl_Forms::Finalization();
        qApp->removeEventFilter(&FCloser);
    }

    void createAndDestroy()
    {
        Application->CreateForm(ModuleA);
        Application->CreateForm(FormB);
        Application->CreateForm(ModuleC);
        QCOMPARE(Application->MainForm(), FormB);
        QVERIFY(FormB->internalWinId());
        // A failing creation handler is shown and the creation goes on.
        QCOMPARE(Boxes, QStringList{"B's creation handler failed"});
        Application->DestroyComponents();
        QCOMPARE(Trace, QStringList({"construct A, variable set", "create A", "construct B, variable set", "create C",
                                     "destroy C", "destroy B", "destroy A"}));
        QCOMPARE(Boxes, QStringList({"B's creation handler failed", "C's destruction handler failed"}));
        QCOMPARE(Application->MainForm(), nullptr);
    }

    void constructionRaises()
    {
        RaiseInConstructor = true;
        QVERIFY_THROWS_EXCEPTION(Exception, Application->CreateForm(ModuleA));
        QCOMPARE(ModuleA, nullptr);
        QCOMPARE(Trace, QStringList{"construct A, variable set"});
        Application->DestroyComponents();
        QCOMPARE(Trace.size(), 1);
    }

    // A handler that raises inside the loop shows the error and the loop goes on; closing the
    // main form ends Run, and a close that the form refuses does not.
    void loop()
    {
        Application->CreateForm(FormB);
        auto* button = new TButton(FormB);
        button->OnClick = [](TObject* Sender) {
            Trace << QString("click %1").arg(Sender ? "with sender" : "without sender");
            throw EConvertError("'x' is not a valid integer value");
        };
        int closeQueries = 0;
        FormB->OnCloseQuery = [&closeQueries](TObject*, bool& CanClose) { CanClose = ++closeQueries > 1; };
        QTimer::singleShot(0, [button] {
            button->click();
            QVERIFY(!FormB->Close());
            QVERIFY(FormB->Close());
        });
        Application->Run();
        QVERIFY(Application->Terminated());
        QCOMPARE(closeQueries, 2);
        QVERIFY(Trace.contains("click with sender"));
        QCOMPARE(Boxes.last(), QString("'x' is not a valid integer value"));
    }

    void messageDlg_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::newRow("error") << int(mtError) << "Error" << int(QMessageBox::Critical);
        QTest::newRow("warning") << int(mtWarning) << "Warning" << int(QMessageBox::Warning);
        QTest::newRow("information") << int(mtInformation) << "Information" << int(QMessageBox::Information);
    }
    void messageDlg()
    {
        QFETCH(int, type);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QString shownTitle;
        int shownIcon = -1;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            shownTitle = box->windowTitle();
            shownIcon = box->icon();
            QCOMPARE(box->buttons().size(), 1);
        });
        // CR LF is the platform's line break; "<b>" is text, not markup.
        QCOMPARE(MessageDlg("First line.\r\n<b>second</b>", TMsgDlgType(type), {mbOK}, 0), mrOk);
        QCOMPARE(Boxes, QStringList{"First line.\n<b>second</b>"});
        QCOMPARE(shownTitle, title);
        QCOMPARE(shownIcon, icon);
    }

private:
    TBoxCloser FCloser;
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
