#include "svc.dvcObserverTh.h"

#include <rtl/Thread.h>

#include <exception>

using TCmd = TdvcObserverTh::TObserverEvent::TCmd;

// ---- the mailbox

TdvcObserverTh::TObserverEvent::TObserverEvent() : FInfos(new TObservedInfos) {}

TdvcObserverTh::TObserverEvent::~TObserverEvent()
{
    delete FInfos;
}

void TdvcObserverTh::TObserverEvent::MakeCurrent(TPosted& APosted)
{
    FCmd = APosted.Cmd;
    if (APosted.Infos)
        FInfos->Assign(*APosted.Infos);
    FBusy = true;
}

void TdvcObserverTh::TObserverEvent::SetEvent(const TStringList* ANewInfos, TCmd ACmd)
{
    const bool withRecord = ACmd == TCmd::ocArrived || ACmd == TCmd::ocRemoved;
    std::lock_guard guard(FLock);
    if (withRecord && !ANewInfos) {
        // The record in hand and those waiting belong to their commands.
        if (!FBusy)
            FInfos->Clear();
        return;
    }
    TPosted posted{ACmd, withRecord ? std::make_unique<TStringList>(*ANewInfos) : nullptr};
    if (FBusy) {
        FPending.push_back(std::move(posted));
        return;
    }
    MakeCurrent(posted);
    // Signalled under the lock: the worker reads the command under it, so the poster is done
    // with the mailbox before the worker can go on to free it.
    TSimpleEvent::SetEvent();
}

void TdvcObserverTh::TObserverEvent::ResetEvent()
{
    std::lock_guard guard(FLock);
    if (FPending.empty()) {
        FBusy = false;
        TSimpleEvent::ResetEvent();
        return;
    }
    TPosted next = std::move(FPending.front());
    FPending.pop_front();
    MakeCurrent(next);
}

TCmd TdvcObserverTh::TObserverEvent::Cmd() const
{
    std::lock_guard guard(FLock);
    return FCmd;
}

// ---- the thread

TdvcObserverTh::TdvcObserverTh()
{
    Build();
}

TdvcObserverTh::TdvcObserverTh(bool AComport, bool AUSB, bool APort, bool ACP210, bool AProlificUSB, bool AOsprey)
{
    Build();
    FObserver->SetRegDvcIntfComport(AComport);
    FObserver->SetRegDvcIntfUsb(AUSB);
    FObserver->SetRegDvcSetupPort(APort);
    FObserver->SetNotifyCP210(ACP210);
    FObserver->SetNotifyProlificUSB(AProlificUSB);
    FObserver->SetNotifyOsprey(AOsprey);
}

void TdvcObserverTh::Build()
{
    SetFreeOnTerminate(true);
    SetLog(TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("TdvcObserverTh"), 8421504, 0));
    try {
        FEvent = new TObserverEvent;
        FObserver = new TdvcObserver;
        // The mailbox outlives the observer: both go after the loop, the observer first.
        TObserverEvent* const mailbox = FEvent;
        FObserver->SetOnChange([] {});
        FObserver->SetOnArrived([mailbox](TStringList* AInfos) { mailbox->SetEvent(AInfos, TCmd::ocArrived); });
        FObserver->SetOnRemoved([mailbox](TStringList* AInfos) { mailbox->SetEvent(AInfos, TCmd::ocRemoved); });
        FList = new TdvcList;
        FRejectPorts = new TStringList;
    } catch (...) {
        // The thread never starts: what was made goes here, on the constructing thread.
        delete FList;
        delete FObserver;
        delete FEvent;
        FList = nullptr;
        FObserver = nullptr;
        FEvent = nullptr;
        throw;
    }
}

TdvcObserverTh::~TdvcObserverTh()
{
    // Still here only when the thread never ran; this is then the constructing thread.
    delete FObserver;
    FObserver = nullptr;
    delete FEvent;
    FEvent = nullptr;
    delete FList;
    FList = nullptr;
    delete FRejectPorts;
    FRejectPorts = nullptr;
}

void TdvcObserverTh::ClearAndReg(const std::vector<TGUID>& AValues)
{
    FObserver->RegClasses(AValues);
}

void TdvcObserverTh::Search()
{
    FEvent->SetEvent(TCmd::ocSearch);
}

QString TdvcObserverTh::RejectPorts() const
{
    std::lock_guard guard(FRejectPortsLock);
    return FRejectPorts->Text();
}

void TdvcObserverTh::SetRejectPorts(const QString& AValue)
{
    std::lock_guard guard(FRejectPortsLock);
    FRejectPorts->SetText(AValue);
}

void TdvcObserverTh::TerminatedSet()
{
    TCodeSiteLogThread::TerminatedSet();
    FEvent->SetEvent(TCmd::ocDone);
}

void TdvcObserverTh::Execute()
{
    NameThreadForDebugging(QStringLiteral("TdvcObserverTh"));
    std::exception_ptr failure;
    try {
        RunLoop();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // Whoever made the thread still holds it and terminates it at shut-down: stop
        // observing, and stay until then.
        FreeObserver();
        AwaitTerminate();
    }
    FreeObserver();
    delete FEvent;
    FEvent = nullptr;
    delete FList;
    FList = nullptr;
    if (failure)
        std::rethrow_exception(failure);
}

void TdvcObserverTh::RunLoop()
{
    while (!Terminated()) {
        if (FEvent->WaitFor(INFINITE) != TWaitResult::wrSignaled)
            return;
        switch (FEvent->Cmd()) {
        case TCmd::ocSearch:
            DoSearch();
            break;
        case TCmd::ocArrived:
            DoArrive();
            break;
        case TCmd::ocRemoved:
            DoRemove();
            break;
        case TCmd::ocDone:
            return;
        }
        FEvent->ResetEvent();
    }
}

void TdvcObserverTh::AwaitTerminate()
{
    while (!Terminated()) {
        if (FEvent->WaitFor(INFINITE) != TWaitResult::wrSignaled || FEvent->Cmd() == TCmd::ocDone)
            return;
        FEvent->ResetEvent();  // dropped: the worker has ended
    }
}

void TdvcObserverTh::FreeObserver()
{
    if (!FObserver)
        return;
    // Its window belongs to the main thread, whose messages must not meet a release here.
    TThread::Synchronize(nullptr, [this] {
        delete FObserver;
        FObserver = nullptr;
    });
}

void TdvcObserverTh::DoSearch()
{
    FList->ClearAndSearch(FObserver->RegClassesArray());
    if (FList->Count() == 0)
        return;
    TStringList rejectPorts;
    {
        std::lock_guard guard(FRejectPortsLock);
        rejectPorts.Assign(*FRejectPorts);
    }
    const std::unique_ptr<TObservedInfos> LInfos = std::make_unique<TObservedInfos>();
    for (std::int32_t i = 0; i < FList->Count(); ++i) {
        if (!FList->AsInfos(i, LInfos.get()))
            continue;
        if (rejectPorts.Count() > 0 && rejectPorts.IndexOf(LInfos->Port()) < 0)
            continue;
        if (FOnPortArrived)
            TThread::Synchronize(nullptr, [&] { FOnPortArrived(LInfos->Port(), LInfos->PortAsInteger()); });
        if (FOnArrived)
            TThread::Synchronize(nullptr, [&] { FOnArrived(LInfos.get()); });
    }
}

void TdvcObserverTh::DoArrive()
{
    if (FOnArrived)
        TThread::Synchronize(nullptr, [this] { FOnArrived(FEvent->Infos()); });
    if (FOnPortArrived)
        TThread::Synchronize(nullptr, [this] { FOnPortArrived(FEvent->Port(), FEvent->PortAsInteger()); });
}

void TdvcObserverTh::DoRemove()
{
    if (FOnRemoved)
        TThread::Synchronize(nullptr, [this] { FOnRemoved(FEvent->Infos()); });
    if (FOnPortRemoved)
        TThread::Synchronize(nullptr, [this] { FOnPortRemoved(FEvent->Port(), FEvent->PortAsInteger()); });
}
