#include "ui/OptionsForm.h"

#include <algorithm>
#include <string>
#include <vector>

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "geo/Convert.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// The user's first OK: the folder is made, and the file starts as the shipped
// one so that the keys this dialog does not show (servers, pauses) keep their
// shipped values.
void PrepareUserFile(const TConfigLocation& location) {
  const fs::path folder = location.Write.parent_path();
  std::error_code ec;
  // Made for the user alone, as the base directory rules ask: the file holds the proxy password.
  std::vector<fs::path> missing;
  for (fs::path f = folder; !f.empty() && !fs::exists(f, ec); f = f.parent_path()) missing.push_back(f);
  for (auto f = missing.rbegin(); f != missing.rend(); ++f)
    if (fs::create_directory(*f, ec)) fs::permissions(*f, fs::perms::owner_all, ec);
  if (!fs::is_directory(folder, ec)) throw EFileError("Create directory " + folder.string() + " Failed.");
  if (fs::exists(location.Write, ec) || !fs::is_regular_file(location.Read, ec)) return;
  std::string shipped;
  try {
    shipped = ReadFileBytes(location.Read);
  } catch (const EFileError&) {
    return;  // it read as the defaults, which are what the dialog showed
  }
  WriteFileAtomic(location.Write, shipped, TFlush::Disk, TNewFile::OwnerOnly);
}

}  // namespace

TfrmOptions::TfrmOptions(IToolkit& toolkit, fs::path programFolder, TWritableCheck writable)
    : Toolkit(toolkit), Folder(std::move(programFolder)), Writable(std::move(writable)) {}

TConfigLocation TfrmOptions::ConfigLocation() const {
  return LocateConfig(Folder.empty() ? ProgramFolder() : Folder, Writable);
}

void TfrmOptions::FormShow() {
  RunHandler(Toolkit, [this] {
    const TOptionsConfig config = TConfig(ConfigLocation().Read).ReadOptions();
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
    const TConfigLocation location = ConfigLocation();
    if (location.PerUser) PrepareUserFile(location);
    // Key by key: a failed write leaves the dialog open, the earlier keys written.
    TConfig(location.Write).WriteOptions(config);
    Toolkit.CloseForm(*this);
  });
}

void TfrmOptions::Button2Click() { Toolkit.CloseForm(*this); }

void TfrmOptions::Button3Click() {
  RunHandler(Toolkit, [this] {
    if (const auto folder = Toolkit.PickFolder("Select path", Edit12.Text)) Edit12.Text = *folder;
  });
}

}  // namespace meridane
