#pragma once
// The global dependency-injection container: instances registered by their service type,
// then built, then resolved. The container neither creates nor frees what it holds.
//
// Registrations and Build happen on one thread before anyone resolves; after Build the
// container does not change, so Resolve takes no lock and may be called from any thread.

#include <rtl/SysUtils.h>

#include <QString>

#include <map>
#include <typeindex>
#include <typeinfo>

class EContainerException : public Exception {
public:
    using Exception::Exception;
};

class EResolveException : public EContainerException {
public:
    using EContainerException::EContainerException;
};

class TContainer {
public:
    // AInstance becomes what every Resolve<T>() answers; a registration of the same type
    // made earlier is replaced. Raises once the container is built.
    template <class T>
    void RegisterInstance(T* AInstance)
    {
        Register(typeid(T), AInstance);
    }

    void Build();

    // The registered instance; raises EResolveException when the type has none or the
    // container is not built yet.
    template <class T>
    T* Resolve() const
    {
        return static_cast<T*>(Find(typeid(T)));
    }

private:
    void Register(const std::type_info& AType, void* AInstance);
    void* Find(const std::type_info& AType) const;

    std::map<std::type_index, void*> FInstances;
    bool FBuilt = false;
};

// The process-wide container; it exists between the unit's initialisation and finalisation.
TContainer& GlobalContainer();

namespace Spring_Container {
void Initialization();
void Finalization();
}  // namespace Spring_Container
