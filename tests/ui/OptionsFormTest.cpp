#include <gtest/gtest.h>

#include <csignal>

#include "config/Config.h"
#include "support/ProcessState.h"
#include "ui/FormHarness.h"
#include "ui/OptionsForm.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;
using TLines = std::vector<std::string>;

// The Options dialog beside a shown main window, over one program folder; HOME
// is the temporary folder.
struct TOptionsRun {
  explicit TOptionsRun(std::optional<std::string> config) : Run(std::move(config)) {}

  fs::path Config() const { return ConfigPathIn(Run.Program); }
  std::string Home(const std::string& name) const { return (Run.Dir.Path() / name).string(); }
  // Path, thread count and proxy box as the dialog shows them.
  TLines Shown() const {
    return {Options.Edit12.Text, Options.Edit2.Text, Options.CheckBoxUseProxy.Checked ? "ticked" : "unticked"};
  }
  TLines Proxy() const {
    return {Options.EditProxyServer.Text, Options.EditProxyPort.Text, Options.EditProxyUsername.Text,
            Options.EditProxyPassword.Text};
  }
  // "Path to save:" and "Threads count:" of a main window started now.
  TLines MainWindowShows() {
    TMainFormEnvironment environment;
    environment.ProgramFolder = Run.Program;
    TForm1 form(Run.Toolkit, environment);
    form.FormShow();
    return {form.Edit6.Text, form.Edit10.Text};
  }

  test::TFormRun Run;
  TfrmOptions Options{Run.Toolkit, Run.Program};
};

TEST(OptionsForm, ShowsStoredValuesOrDefaultsAndOkWritesThemBack) {
  const struct {
    std::optional<std::string> Config;
    TLines Shown, Main;  // "~/" stands for the home folder
    std::string AfterOk;
  } cases[] = {
      {std::nullopt, {"~/mrd", "3", "unticked"}, {"~/mrd", "1"}, "\r\nUseProxy=0\r\n"},
      {"[Proxy]\r\nUseProxy=2\r\n", {"~/mrd", "3", "unticked"}, {"~/mrd", "1"}, "\r\nUseProxy=0\r\n"},
      {"[Proxy]\r\nUseProxy=yes\r\n", {"~/mrd", "3", "unticked"}, {"~/mrd", "1"}, "\r\nUseProxy=0\r\n"},
      {"[Proxy]\r\nUseProxy=1\r\n", {"~/mrd", "3", "ticked"}, {"~/mrd", "1"}, "\r\nUseProxy=1\r\n"},
      {"[IniParas]\r\nDefaultThreadCount=abc\r\n",
       {"~/mrd", "3", "unticked"},
       {"~/mrd", "1"},
       "\r\nDefaultThreadCount=3\r\n"},
      {"[IniParas]\r\nDefaultThreadCount=100\r\n",
       {"~/mrd", "100", "unticked"},
       {"~/mrd", "100"},
       "\r\nDefaultThreadCount=100\r\n"},
      // An empty path is the user's choice, not a missing key, for both readers.
      {"[IniParas]\r\nDefaultPath=\r\n", {"", "3", "unticked"}, {"", "1"}, "[IniParas]\r\nDefaultPath=\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Config.value_or("no config file"));
    TOptionsRun run(c.Config);
    auto home = [&](TLines lines) {
      for (std::string& line : lines)
        if (line.starts_with("~/")) line = run.Home(line.substr(2));
      return lines;
    };
    run.Options.FormShow();
    EXPECT_EQ(run.Shown(), home(c.Shown));
    EXPECT_EQ(run.Proxy(), TLines(4));
    EXPECT_EQ(run.MainWindowShows(), home(c.Main));
    run.Options.Button1Click();
    EXPECT_NE(ReadAll(run.Config()).find(c.AfterOk), std::string::npos) << ReadAll(run.Config());
    EXPECT_EQ(run.Run.Toolkit.Calls, TLines{"Close frmOptions"});
    EXPECT_TRUE(run.Run.Toolkit.Errors.empty());
  }
}

constexpr fs::perms OwnerOnly = fs::perms::owner_read | fs::perms::owner_write;

TEST(OptionsForm, OkOnFreshInstallationWritesEveryKeyInOrder) {
  const test::TUmaskGuard mask(022);
  TOptionsRun run(std::nullopt);
  run.Options.FormShow();
  run.Options.Button1Click();
  EXPECT_EQ(fs::status(run.Config()).permissions(), OwnerOnly);  // it may hold the proxy password
  EXPECT_EQ(ReadAll(run.Config()), "[IniParas]\r\nDefaultPath=" + run.Home("mrd") +
                                       "\r\nDefaultThreadCount=3\r\n\r\n[Proxy]\r\nUseProxy=0\r\nProxyServer=\r\n"
                                       "ProxyPort=\r\nProxyUsername=\r\nProxyPassword=\r\n");
  EXPECT_EQ(run.MainWindowShows(), (TLines{run.Home("mrd"), "3"}));
}

TEST(OptionsForm, CancelWritesNothing) {
  const std::optional<std::string> configs[] = {std::nullopt, "[IniParas]\r\nDefaultPath=/a\r\n"};
  for (const auto& config : configs) {
    SCOPED_TRACE(config.value_or("no config file"));
    TOptionsRun run(config);
    run.Options.FormShow();
    const TLines stored = run.Shown();
    run.Options.Edit12.Text = "/b";
    run.Options.UpDown1.Click(true, run.Options.Edit2);
    run.Options.CheckBoxUseProxy.Checked = true;
    run.Options.EditProxyServer.Text = "proxy";
    run.Options.Button2Click();
    EXPECT_EQ(fs::exists(run.Config()), config.has_value());
    if (config) {
      EXPECT_EQ(ReadAll(run.Config()), *config);
    }
    EXPECT_EQ(run.Run.Toolkit.Calls, TLines{"Close frmOptions"});
    run.Options.FormShow();
    EXPECT_EQ(run.Shown(), stored);
    EXPECT_EQ(run.Proxy(), TLines(4));
  }
}

TEST(OptionsForm, FailedWriteShowsErrorAndKeepsDialogOpen) {
  const std::string stored =
      "[IniParas]\r\nDefaultPath=/old\r\nDefaultThreadCount=3\r\n\r\n[Proxy]\r\nUseProxy=0\r\nProxyServer=old\r\n"
      "ProxyPort=1\r\nProxyUsername=old\r\nProxyPassword=old\r\n";
  enum TFault { ReadOnly, NoIniFolder, DiskFull };
  const struct {
    TFault Fault;
    std::optional<std::string> After;  // none: no file, and no "ini" folder
  } cases[] = {
      {ReadOnly, stored},
      {NoIniFolder, std::nullopt},
      // The first three values keep the file's size; the longer proxy server is the first to fail.
      {DiskFull,
       "[IniParas]\r\nDefaultPath=/new\r\nDefaultThreadCount=5\r\n\r\n[Proxy]\r\nUseProxy=1\r\nProxyServer=old\r\n"
       "ProxyPort=1\r\nProxyUsername=old\r\nProxyPassword=old\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fault);
    TOptionsRun run(c.Fault == NoIniFolder ? std::nullopt : std::optional(stored));
    THeadlessToolkit& toolkit = run.Run.Toolkit;
    if (c.Fault == NoIniFolder) fs::remove_all(run.Run.Program / "ini");
    if (c.Fault == ReadOnly) fs::permissions(run.Config(), fs::perms::owner_read);
    toolkit.WhileModal = [&](IForm&) {
      TfrmOptions& o = run.Options;
      o.Edit12.Text = "/new";
      o.UpDown1.Click(true, o.Edit2);
      o.UpDown1.Click(true, o.Edit2);
      o.CheckBoxUseProxy.Checked = true;
      o.EditProxyServer.Text = "proxy.example";
      // A full disk: the file may not grow. SIGXFSZ is ignored so the write fails instead of the test.
      std::optional<test::TResourceLimitGuard> full;
      if (c.Fault == DiskFull) {
        std::signal(SIGXFSZ, SIG_IGN);
        full.emplace(RLIMIT_FSIZE);
        ASSERT_TRUE(full->SetSoft(fs::file_size(run.Config())));
      }
      o.Button1Click();
      full.reset();
      EXPECT_EQ(toolkit.Errors, TLines{"Unable to write to " + run.Config().string()});
      EXPECT_TRUE(toolkit.Visible.contains("frmOptions"));
    };
    toolkit.ShowModal(run.Options);
    EXPECT_EQ(toolkit.Calls, TLines{"ShowModal frmOptions"});
    if (c.After) {
      EXPECT_EQ(ReadAll(run.Config()), *c.After);
    } else {
      EXPECT_FALSE(fs::exists(run.Run.Program / "ini"));
    }
  }
}

TEST(OptionsForm, FolderPickerAndArrows) {
  TOptionsRun run("[IniParas]\r\nDefaultPath=/a\r\n");
  TfrmOptions& o = run.Options;
  run.Run.Toolkit.FolderAnswers = {"/srv/tiles", std::nullopt};
  o.FormShow();
  o.Button3Click();
  EXPECT_EQ(o.Edit12.Text, "/srv/tiles");
  o.Button3Click();
  EXPECT_EQ(o.Edit12.Text, "/srv/tiles");
  ASSERT_EQ(run.Run.Toolkit.Dialogs.size(), 2u);
  EXPECT_EQ(run.Run.Toolkit.Dialogs[1].Title, "Select path");

  // The arrows step within 1..64 from the number shown, without wrapping around.
  const struct {
    int Stored;
    bool Up;
    std::string Shown;
  } clicks[] = {{100, true, "64"}, {100, false, "63"}, {64, true, "64"},
                {1, false, "1"},   {5, true, "6"},     {-7, true, "2"}};
  for (const auto& c : clicks) {
    SCOPED_TRACE(std::to_string(c.Stored) + (c.Up ? " up" : " down"));
    WriteAll(run.Config(), "[IniParas]\r\nDefaultThreadCount=" + std::to_string(c.Stored) + "\r\n");
    o.FormShow();
    EXPECT_EQ(o.Edit2.Text, std::to_string(c.Stored));
    o.UpDown1.Click(c.Up, o.Edit2);
    EXPECT_EQ(o.Edit2.Text, c.Shown);
    o.Button1Click();
    EXPECT_EQ(TConfig(run.Config()).ReadOptions().DefaultThreadCount, std::stoi(c.Shown));
  }
}

TEST(OptionsForm, ReadOnlyProgramFolderKeepsTheSettingsInTheUsersFile) {
  const std::string shipped = "[IniParas]\r\nVersion=7.0\r\nDefaultThreadCount=1\r\n[Servers]\r\nHost0=tiles.local\r\n";
  const test::TUmaskGuard mask(022);
  TOptionsRun run(shipped);
  THeadlessToolkit& toolkit = run.Run.Toolkit;
  test::TEnvironmentGuard xdg("XDG_CONFIG_HOME");
  // An installed program's folder: nobody may write it.
  TfrmOptions options(toolkit, run.Run.Program, [](const fs::path&) { return false; });
  options.FormShow();
  EXPECT_EQ(options.Edit2.Text, "1");
  options.Edit12.Text = "/srv/tiles";

  // Below a file no folder can be made, not even by root: the dialog stays open.
  WriteAll(run.Run.Dir / "file", "");
  xdg.Set((run.Run.Dir / "file" / "xdg").string());
  options.Button1Click();
  EXPECT_EQ(toolkit.Errors, TLines{"Create directory " + (run.Run.Dir / "file/xdg/meridane").string() + " Failed."});
  EXPECT_EQ(toolkit.Calls, TLines{});

  toolkit.Errors.clear();
  xdg.Set((run.Run.Dir / "xdg").string());
  const fs::path user = run.Run.Dir / "xdg" / "meridane" / "config.ini";
  options.Button1Click();
  EXPECT_EQ(toolkit.Errors, TLines{});
  EXPECT_EQ(ReadAll(run.Config()), shipped);
  // The shipped keys the dialog does not show are kept.
  const std::string written = ReadAll(user);
  for (const char* line : {"\r\nVersion=7.0\r\n", "\r\nHost0=tiles.local\r\n", "\r\nDefaultPath=/srv/tiles\r\n"})
    EXPECT_NE(written.find(line), std::string::npos) << line << " in " << written;
  EXPECT_EQ(fs::status(user.parent_path()).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(user).permissions(), OwnerOnly);
  options.FormShow();
  EXPECT_EQ(options.Edit12.Text, "/srv/tiles");
}

}  // namespace
}  // namespace meridane
