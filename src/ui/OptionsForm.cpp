#include "ui/OptionsForm.h"

#include <algorithm>

#include "config/Config.h"
#include "geo/Convert.h"

namespace meridane {

TfrmOptions::TfrmOptions(IToolkit& toolkit, std::filesystem::path programFolder)
    : Toolkit(toolkit), Folder(std::move(programFolder)) {}

std::filesystem::path TfrmOptions::ConfigPath() const {
  return ConfigPathIn(Folder.empty() ? ProgramFolder() : Folder);
}

void TfrmOptions::FormShow() {
  RunHandler(Toolkit, [this] {
    const TOptionsConfig config = TConfig(ConfigPath()).ReadOptions();
    Edit12.Text = config.DefaultPath;
    // Shown as stored, even outside the arrows' range; the arrows step from within it.
    Edit2.Text = std::to_string(config.DefaultThreadCount);
    UpDown1.Position = std::clamp(config.DefaultThreadCount, UpDown1.Min, UpDown1.Max);
    CheckBoxUseProxy.Checked = config.UseProxy;
    EditProxyServer.Text = config.ProxyServer;
    EditProxyPort.Text = config.ProxyPort;
    EditProxyUsername.Text = config.ProxyUsername;
    EditProxyPassword.Text = config.ProxyPassword;
  });
}

void TfrmOptions::Button1Click() {
  RunHandler(Toolkit, [this] {
    TOptionsConfig config;
    config.DefaultPath = Edit12.Text;
    config.DefaultThreadCount = ParseWholeNumber(Edit2.Text).value_or(UpDown1.Position);
    config.UseProxy = CheckBoxUseProxy.Checked;
    config.ProxyServer = EditProxyServer.Text;
    config.ProxyPort = EditProxyPort.Text;
    config.ProxyUsername = EditProxyUsername.Text;
    config.ProxyPassword = EditProxyPassword.Text;
    // Key by key: a failed write leaves the dialog open, the earlier keys written.
    TConfig(ConfigPath()).WriteOptions(config);
    Toolkit.CloseForm(*this);
  });
}

void TfrmOptions::Button2Click() { Toolkit.CloseForm(*this); }

void TfrmOptions::Button3Click() {
  RunHandler(Toolkit, [this] {
    if (const auto folder = Toolkit.PickFolder("Select path")) Edit12.Text = *folder;
  });
}

}  // namespace meridane
