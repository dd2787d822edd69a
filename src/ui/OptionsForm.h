#pragma once

#include <filesystem>
#include <string>

#include "config/Config.h"
#include "ui/Controls.h"
#include "ui/Toolkit.h"

namespace meridane {

// The Options dialog's logic: the only place where the user edits config.ini.
// Every show reloads every control from the file, so edits abandoned with
// Cancel are gone the next time.
class TfrmOptions : public IForm {
 public:
  static constexpr int MaxThreadCount = 64;

  // programFolder: where ini/config.ini lies; empty: the running program's folder.
  // writable: how LocateConfig tells whether that folder may be written.
  explicit TfrmOptions(IToolkit& toolkit, std::filesystem::path programFolder = {},
                       TWritableCheck writable = FolderWritable);

  // Controls.
  std::string Caption = "Options";
  TLabel Label1{"Default path to save :"};
  TEdit Edit12;
  TButton Button3{"..."};
  TLabel Label11{"Default threads number:"};
  TEdit Edit2{"1"};  // read-only: changed by the arrows or by loading
  TUpDown UpDown1{1, MaxThreadCount, 1};
  TCheckBox CheckBoxUseProxy{"Use proxy server"};
  TLabel Label3{"Proxy Server Name (IP)"};
  TEdit EditProxyServer;
  TLabel Label4{"Proxy Port"};
  TEdit EditProxyPort;
  TLabel Label5{"Proxy Username"};
  TEdit EditProxyUsername;
  TLabel Label6{"Proxy Password"};
  TEdit EditProxyPassword;  // shown in plain characters
  TButton Button1{"OK"};
  TButton Button2{"Cancel"};

  const char* FormName() const override { return "frmOptions"; }
  // Handlers. An error escaping one is shown in the toolkit's error box.
  void FormShow() override;
  void Button1Click();
  void Button2Click();
  void Button3Click();

  // Looked up afresh at every show and every OK: the user's file appears with the first OK.
  TConfigLocation ConfigLocation() const;

 private:
  IToolkit& Toolkit;
  std::filesystem::path Folder;
  TWritableCheck Writable;
};

}  // namespace meridane
