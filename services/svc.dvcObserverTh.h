#pragma once
// The observer thread: carries out searches of the present devices and the arrivals and
// removals that the device observer hears on the main thread, and hands every device to the
// callbacks by synchronous calls on the main thread.
//
// Make it on the main thread with TThread::Create<TdvcObserverTh>(); it runs at once, waits
// for commands and frees itself when its loop ends (after Terminate). Set OnArrived and
// OnRemoved, then ClearAndReg the classes to watch, then Search.
//
// Commands are queued in the order posted, each arrival and removal with its own copy of the
// device record; the worker carries out one at a time. A callback that raises ends the
// worker: the device observer is released and later commands are dropped, but the thread
// stays until Terminate, so neither notifications nor the final Terminate reach freed
// objects. The device observer and its notification window, made on the main thread, are
// released there by a synchronous hand-off; while the main thread serves no hand-offs any
// more (its event loop has ended), the worker waits there and they stay to the end of the
// process.

#include <m.dvcList.h>
#include <m.dvcObserver.h>
#include <mCodeSite.h>

#include <rtl/GUID.h>
#include <rtl/StringList.h>
#include <rtl/SyncObjs.h>

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A callback that borrows a device record for the call.
using TObservedInfosProc = std::function<void(TObservedInfos* AInfos)>;
// A callback with a device's port name and number (-1 without one).
using TPortProc = std::function<void(const QString& APort, std::int32_t APortNumber)>;

class TdvcObserverTh : public TCodeSiteLogThread {
public:
    // The mailbox: the command being carried out with its device record, and the commands
    // posted meanwhile, in order. Signalled while a command waits or is carried out.
    class TObserverEvent : public TSimpleEvent {
    public:
        enum class TCmd : std::uint8_t { ocSearch, ocArrived, ocRemoved, ocDone };

        TObserverEvent();
        ~TObserverEvent() override;
        TObserverEvent(const TObserverEvent&) = delete;
        TObserverEvent& operator=(const TObserverEvent&) = delete;

        // Posts ACmd; an arrival or removal takes a copy of ANewInfos (the poster keeps its
        // list). An arrival or removal without a list posts nothing and, while no command is
        // waiting, clears the record.
        void SetEvent(const TStringList* ANewInfos, TCmd ACmd);
        void SetEvent(TCmd ACmd) { SetEvent(nullptr, ACmd); }
        // The current command is done: the next posted one becomes current, or the mailbox is
        // no longer signalled.
        void ResetEvent();

        TCmd Cmd() const;
        // The current record itself; it changes only when the worker resets the mailbox.
        TObservedInfos* Infos() const { return FInfos; }
        QString Port() const { return FInfos->Port(); }
        std::int32_t PortAsInteger() const { return FInfos->PortAsInteger(); }

    private:
        struct TPosted {
            TCmd Cmd;
            std::unique_ptr<TStringList> Infos;
        };
        void MakeCurrent(TPosted& APosted);

        TCmd FCmd = TCmd::ocSearch;
        TObservedInfos* FInfos;
        mutable std::mutex FLock;
        bool FBusy = false;
        std::deque<TPosted> FPending;
    };

    TdvcObserverTh();
    TdvcObserverTh(bool AComport, bool AUSB, bool APort, bool ACP210, bool AProlificUSB, bool AOsprey);
    ~TdvcObserverTh() override;

    // Registers the classes not registered yet, at once on the calling thread.
    void ClearAndReg(const std::vector<TGUID>& AValues);
    // Posts a search of the present devices of the registered classes; returns at once.
    void Search();

    const TObservedInfosProc& OnArrived() const { return FOnArrived; }
    void SetOnArrived(TObservedInfosProc AValue) { FOnArrived = std::move(AValue); }
    const TObservedInfosProc& OnRemoved() const { return FOnRemoved; }
    void SetOnRemoved(TObservedInfosProc AValue) { FOnRemoved = std::move(AValue); }
    const TPortProc& OnPortArrived() const { return FOnPortArrived; }
    void SetOnPortArrived(TPortProc AValue) { FOnPortArrived = std::move(AValue); }
    const TPortProc& OnPortRemoved() const { return FOnPortRemoved; }
    void SetOnPortRemoved(TPortProc AValue) { FOnPortRemoved = std::move(AValue); }
    // The ports a search reports (each line one port, any letter case); empty: every device.
    QString RejectPorts() const;
    void SetRejectPorts(const QString& AValue);

protected:
    void TerminatedSet() override;
    void Execute() override;

private:
    void Build();
    void RunLoop();
    void AwaitTerminate();
    void FreeObserver();
    void DoSearch();
    void DoArrive();
    void DoRemove();

    TdvcObserver* FObserver = nullptr;
    TObserverEvent* FEvent = nullptr;
    TdvcList* FList = nullptr;
    TObservedInfosProc FOnRemoved;
    TObservedInfosProc FOnArrived;
    TPortProc FOnPortArrived;
    TPortProc FOnPortRemoved;
    TStringList* FRejectPorts = nullptr;
    // RejectPorts may be set while a search reads it.
    mutable std::mutex FRejectPortsLock;
};
