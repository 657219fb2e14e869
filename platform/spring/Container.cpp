#include "Container.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<TContainer> Global;

QString TypeName(const std::type_info& AType)
{
    int status = 0;
    char* name = abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status);
    const QString text = QString::fromLatin1(status == 0 && name ? name : AType.name());
    std::free(name);
    return text;
}

}  // namespace

void TContainer::Register(const std::type_info& AType, void* AInstance)
{
    if (FBuilt)
        throw EContainerException(QStringLiteral("Cannot register %1: the container is already built")
                                      .arg(TypeName(AType)));
    FInstances[std::type_index(AType)] = AInstance;
}

void TContainer::Build()
{
    FBuilt = true;
}

void* TContainer::Find(const std::type_info& AType) const
{
    if (!FBuilt)
        throw EResolveException(QStringLiteral("Cannot resolve %1: the container is not built").arg(TypeName(AType)));
    const auto it = FInstances.find(std::type_index(AType));
    if (it == FInstances.end())
        throw EResolveException(QStringLiteral("Cannot resolve %1: no registration").arg(TypeName(AType)));
    return it->second;
}

TContainer& GlobalContainer()
{
    if (!Global)
        throw EContainerException(QStringLiteral("The global container does not exist"));
    return *Global;
}

void Spring_Container::Initialization()
{
    Global = std::make_unique<TContainer>();
}

void Spring_Container::Finalization()
{
    Global.reset();
}
