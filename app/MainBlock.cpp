#include "MainBlock.h"

#include "v.main.h"

#include <m.bsl430.h>
#include <mCodeSite.h>
#include <mCodeSiteHelper.h>
#include <svc.bsl430.h>
#include <svc.h>
#include <svc.resMng.h>

#include <spring/Container.h>
#include <vcl/Forms.h>

#include <QGuiApplication>
#include <QIcon>

const std::vector<TUnitInit>& ProgramUnits()
{
    static const std::vector<TUnitInit> units{
        {Vcl_Forms::Initialization, Vcl_Forms::Finalization},
        {Spring_Container::Initialization, Spring_Container::Finalization},
        {mCodeSite::Initialization, mCodeSite::Finalization},
        {mCodeSiteHelper::Initialization, mCodeSiteHelper::Finalization},
        {m_bsl430::Initialization, m_bsl430::Finalization},
        {svc::Initialization, svc::Finalization},
    };
    return units;
}

void SetDesktopIdentity()
{
    QGuiApplication::setDesktopFileName(QLatin1String(cDesktopFileName));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/analyzer-updater.svg")));
}

void MainBlock()
{
    Application->Initialize();
    SetDesktopIdentity();
    Application->SetMainFormOnTaskBar(true);
    Application->CreateForm(svcResMng);
    Application->CreateForm(vMain);
    Application->CreateForm(svcBsl430);
    Application->Run();
}
