#pragma once
// Log-capable bases for objects, threads and data modules, and the factory of named,
// coloured loggers.
//
// Every base reaches its logger through Log(): its own logger once SetLog gave it one, else
// the global logger. The bases never own their logger; the factory owns every logger it makes
// until the unit's finalisation, which frees them all. Nothing may log through a factory
// logger after that; the global logger lives on.

#include <codesite/CodeSite.h>
#include <rtl/Classes.h>
#include <rtl/System.h>
#include <spring/InterfacedThread.h>
#include <vcl/Graphics.h>

#include <QString>

#include <cstdint>

inline constexpr char IID_ICodeSiteLog[] = "{13253586-A52D-4846-816C-DEA6B6AFF535}";

class ICodeSiteLog : public virtual IInterface {
public:
    virtual TCodeSiteLogger* GetLog() const = 0;
    virtual void SetLog(TCodeSiteLogger* AValue) = 0;

    TCodeSiteLogger* Log() const { return GetLog(); }

protected:
    ~ICodeSiteLog() = default;
};

// Freed when its last interface reference (TInterfaceRef) goes.
class TCodeSiteLogObject : public TInterfacedObject, public ICodeSiteLog {
public:
    TCodeSiteLogger* GetLog() const override;
    void SetLog(TCodeSiteLogger* AValue) override;

protected:
    TCodeSiteLogger* FLogger = nullptr;
};

// Created running like every TThread: make it with TThread::Create<T>(...).
class TCodeSiteLogThread : public TInterfacedThread, public ICodeSiteLog {
public:
    TCodeSiteLogger* GetLog() const override;
    void SetLog(TCodeSiteLogger* AValue) override;

protected:
    TCodeSiteLogThread() = default;

    TCodeSiteLogger* FLogger = nullptr;
};

class TCodeSiteLogDataModule : public TDataModule, public ICodeSiteLog {
public:
    // A component's reference operations: nothing is counted.
    std::int32_t AddRef() override { return -1; }
    std::int32_t Release() override { return -1; }

    TCodeSiteLogger* GetLog() const override;
    void SetLog(TCodeSiteLogger* AValue) override;

protected:
    TCodeSiteLogDataModule() = default;

private:
    TCodeSiteLogger* FLogger = nullptr;
};

// Class operations only. Categories are compared exactly (case matters). Every operation
// holds one lock, so threads may call it at once (the flashing worker makes its logger while
// the main thread logs).
class TCodeSiteLoggerFactory {
public:
    TCodeSiteLoggerFactory() = delete;

    // A new logger stored under ACategory, in the platform's default colours. A logger already
    // stored under that category is not freed (someone may hold it): it stays alive, out of
    // the dictionary, until finalisation.
    static TCodeSiteLogger* CreateCodeSiteLogger(const QString& ACategory);
    // A new logger under the first free one of ACategory, ACategory[1], ACategory[2], ...
    static TCodeSiteLogger* CreateCodeSiteLogger(const QString& ACategory, TColor ABgColor, TColor AFontColor);
    // The logger stored under ACategory, unchanged; else a new one in the given colours.
    static TCodeSiteLogger* CreateOrSelectLogger(const QString& ACategory, TColor ABgColor, TColor AFontColor);
    // The logger stored under Category; EListError "Item not found" when there is none.
    static TCodeSiteLogger* GetLoggers(const QString& Category);
    static TCodeSiteLogger* Loggers(const QString& Category) { return GetLoggers(Category); }

    // Class constructor and destructor, run by the unit's initialisation and finalisation.
    // The factory also makes its dictionary on first use when none exists.
    static void ClassCreate();
    static void ClassDestroy();
    // Whether the dictionary exists (for the unit's tests).
    static bool HasLoggers();
};

namespace mCodeSite {
void Initialization();
void Finalization();
}  // namespace mCodeSite
