#pragma once

#include <array>
#include <span>
#include <string>

#include "ui/AboutForm.h"
#include "ui/ConvertForm.h"
#include "ui/FailedForm.h"
#include "ui/MainForm.h"
#include "ui/OptionsForm.h"
#include "ui/Toolkit.h"

namespace meridane {

struct TMenuItem;

// The main window's menu commands besides the download workflow: each does one
// thing (ends the program, shows another window, starts a sibling program,
// opens the help file or the home page) and returns at once, or when the modal
// window it shows is closed.
class TMainMenu {
 public:
  // The sibling programs in the program folder.
  static constexpr const char* MapViewer = "vistorel";
  static constexpr const char* MapCombiner = "mosaren";

  TMainMenu(IToolkit& toolkit, TForm1& form1, TfrmAbout& about, TfrmConvert& convert, TfrmOptions& options,
            TfrmFlt& flt);

  void Exit1Click();
  void Options2Click();
  void ConvertLongitudeorLatitudetodegreen1Click();
  void Viewlogfile1Click() { Form1.Viewlogfile1Click(); }
  void Mapviewer1Click();
  void CombineImages1Click();
  void dowloadfailedfiles1Click();
  void Checktask1Click();
  void Usermanual1Click();
  void Homepage1Click();
  void About1Click();

  // A sibling program's file in the program folder, never in the current folder.
  std::string SiblingPath(const char* name) const;

  // What a menu item reads now: "Check task..." reads "Stop check" while a check runs.
  const char* Caption(const TMenuItem& item) const;

 private:
  IToolkit& Toolkit;
  TForm1& Form1;
  TfrmAbout& frmAbout;
  TfrmConvert& frmConvert;
  TfrmOptions& frmOptions;
  TfrmFlt& frmFlt;
};

// One item of the main menu; "&" marks the accelerator key. A separator has
// the caption "-", no name and no handler.
struct TMenuItem {
  const char* Name;
  const char* Caption;
  void (TMainMenu::*Handler)();

  constexpr bool Separator() const { return Handler == nullptr; }
};

struct TMenu {
  const char* Caption;
  std::span<const TMenuItem> Items;
};

// The main menu, from which a toolkit builds it.
namespace MainMenuItems {
inline constexpr TMenuItem Separator{"", "-", nullptr};
inline constexpr TMenuItem File[] = {{"Exit1", "E&xit", &TMainMenu::Exit1Click}};
inline constexpr TMenuItem Options[] = {{"Options2", "Options...", &TMainMenu::Options2Click}};
inline constexpr TMenuItem Misc[] = {
    {"ConvertLongitudeorLatitudetodegreen1", "Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"...",
     &TMainMenu::ConvertLongitudeorLatitudetodegreen1Click},
    Separator,
    {"Viewlogfile1", "View log file", &TMainMenu::Viewlogfile1Click},
};
inline constexpr TMenuItem Tools[] = {
    {"Mapviewer1", "Map Viewer", &TMainMenu::Mapviewer1Click},
    Separator,
    {"CombineImages1", "Map Combiner", &TMainMenu::CombineImages1Click},
    Separator,
    {"dowloadfailedfiles1", "re-dowload failed files", &TMainMenu::dowloadfailedfiles1Click},
    {"Checktask1", "Check task...", &TMainMenu::Checktask1Click},
};
inline constexpr TMenuItem Help[] = {
    {"Usermanual1", "User manual", &TMainMenu::Usermanual1Click},
    {"Homepage1", "Homepage", &TMainMenu::Homepage1Click},
    Separator,
    {"About1", "About...", &TMainMenu::About1Click},
};
}  // namespace MainMenuItems

inline constexpr std::array<TMenu, 5> MainMenuTable{{
    {"&File", MainMenuItems::File},
    {"&Options", MainMenuItems::Options},
    {"&Misc", MainMenuItems::Misc},
    {"&Tools", MainMenuItems::Tools},
    {"&Help", MainMenuItems::Help},
}};

}  // namespace meridane
