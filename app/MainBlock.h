#pragma once
// The program's main block and the units whose initialisations and finalisations the
// program runs around it.

#include <rtl/Units.h>

#include <vector>

// The program's units with an initialisation or a finalisation, in link order: the window
// forms, the container, the logging units, the library binding, and last the locator.
const std::vector<TUnitInit>& ProgramUnits();

// How the desktop knows the program: its windows carry the menu entry's icon, and the
// desktop file name lets a desktop (Wayland's app id) match them to that entry.
inline constexpr char cDesktopFileName[] = "analyzer-updater";
void SetDesktopIdentity();

// Creates the package manager, the main window and the flashing service, in this order,
// and runs the message loop until the main window closes.
void MainBlock();
