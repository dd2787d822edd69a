#pragma once

#include "config/Config.h"
#include "ui/MainMenu.h"
#include "ui/qt/Dialogs.h"
#include "ui/MapPickForm.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MapPickDialog.h"

namespace meridane {

// The desktop program's windows over their logic, created once in the
// program's order: the main window, About, the converter, Options and the
// re-download dialog, then the map dialog of "Map...". Tests build it over a
// program folder of their own.
struct TApplication {
  explicit TApplication(TMainFormEnvironment environment = {})
      : Form1(Toolkit, environment),
        frmAbout(Toolkit, Form1),
        frmConvert(Toolkit),
        frmOptions(Toolkit, environment.ProgramFolder),
        frmFlt(Toolkit, {environment.ConfigPath, environment.ProgramFolder}, environment.MakeClient),
        Menu(Toolkit, Form1, frmAbout, frmConvert, frmOptions, frmFlt),
        MainWindow(Toolkit, Form1, Menu),
        AboutDialog(Toolkit, frmAbout, &MainWindow),
        ConvertDialog(Toolkit, frmConvert, &MainWindow),
        OptionsDialog(Toolkit, frmOptions, &MainWindow),
        FltDialog(Toolkit, frmFlt, &MainWindow),
        MapPickDialog(Toolkit, *Form1.MapPick, &MainWindow) {}

  TQtToolkit Toolkit;
  TForm1 Form1;
  TfrmAbout frmAbout;
  TfrmConvert frmConvert;
  TfrmOptions frmOptions;
  TfrmFlt frmFlt;
  TMainMenu Menu;
  TForm1Window MainWindow;
  TAboutDialog AboutDialog;
  TConvertDialog ConvertDialog;
  TOptionsDialog OptionsDialog;
  TFltDialog FltDialog;
  TMapPickDialog MapPickDialog;
};

}  // namespace meridane
