// The four dialogs through their real widgets, offscreen.
#include <QAccessible>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QWindow>

#include "config/IniFile.h"
#include "support/FaultServer.h"
#include "support/TestServers.h"
#include "ui/qt/QtHarness.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::Find;
using test::ReadAll;
using test::TDesktopRun;
using test::Text;
using test::WhenModal;

// Chooses a menu item of the main window that opens a modal dialog; act runs
// on the dialog once it is open, and the dialog is closed after it if act left it open.
void OpenModal(TDesktopRun& run, const char* item, const std::function<void(QWidget*)>& act) {
  WhenModal([act](QWidget* dialog) {
    act(dialog);
    if (dialog->isVisible()) {
      ADD_FAILURE() << dialog->objectName().toStdString() << " left open";
      dialog->close();
    }
  });
  Find<QAction>(run.Main(), item)->trigger();
}

// Answers the next file dialog with a path.
void AnswerFileDialog(const fs::path& path) {
  WhenModal([path](QWidget* modal) {
    auto* files = qobject_cast<QFileDialog*>(modal);
    if (!files) {
      ADD_FAILURE() << "not a file dialog: " << modal->objectName().toStdString();
      modal->close();
      return;
    }
    files->selectFile(QString::fromStdString(path.string()));
    static_cast<QDialog*>(files)->accept();  // public there
  });
}

// A modal window as it opened: its owner, whether it took the input and is
// kept on top; a box's text and whether it can be selected, a file dialog's filters.
struct TOpenedModal {
  std::string Name, Text;
  QWidget* Parent = nullptr;
  QWindow* Transient = nullptr;
  bool Modal = false, OnTop = false;
  Qt::TextInteractionFlags Interaction;
};

// Notes the next modal window, then closes it.
std::shared_ptr<TOpenedModal> CloseNextModal() {
  auto seen = std::make_shared<TOpenedModal>();
  WhenModal([seen](QWidget* modal) {
    seen->Name = modal->objectName().toStdString();
    seen->Parent = modal->parentWidget();
    seen->Transient = modal->windowHandle()->transientParent();
    seen->Modal = modal->isVisible() && QApplication::activeModalWidget() == modal;
    seen->OnTop = modal->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      seen->Text = box->text().toStdString();
      seen->Interaction = box->textInteractionFlags();
    }
    if (auto* files = qobject_cast<QFileDialog*>(modal)) seen->Text = files->nameFilters().join(";").toStdString();
    static_cast<QDialog*>(modal)->reject();
  });
  return seen;
}

TEST(DesktopDialogs, ControlsByNameAsTheyOpen) {
  TDesktopRun run;
  TApplication& app = *run.App;
  const struct {
    QDialog* Dialog;
    const char* Title;
    QSize Size;
    std::vector<std::pair<const char*, std::string>> Controls;
  } dialogs[] = {
      // clang-format off
      {&app.AboutDialog, "About", {315, 181},
       {{"Label3", "Meridane 6.91"}, {"Label8", "Developer:  The Meridane team"}, {"Label5", "Homepage:"},
        {"Label4", TForm1::HomePageAddress}, {"Label6", "Email:"}, {"Label7", TForm1::SupportAddress},
        {"bLater", "&OK"}}},
      {&app.ConvertDialog, "Convert \"Degrees,Minutes,Seconds\" to \"Degrees\"", {360, 150},
       {{"GroupBox1", ""}, {"Label1", "Degrees, Minutes, Seconds:"}, {"Edit1", ""}, {"Edit2", ""}, {"Edit3", ""},
        {"GroupBox2", ""}, {"Label2", "Degrees:"}, {"Edit4", ""}, {"Button1", "convert"}}},
      // Without configuration keys: the dialog's own defaults.
      {&app.OptionsDialog, "Options", {360, 342},
       {{"Label1", "Default path to save :"}, {"Edit12", run.Dir.Folder() + "mrd"}, {"Button3", "..."},
        {"Label11", "Default threads number:"}, {"Edit2", "3"}, {"CheckBoxUseProxy", "Use proxy server"},
        {"Label3", "Proxy Server Name (IP)"}, {"EditProxyServer", ""}, {"Label4", "Proxy Port"},
        {"EditProxyPort", ""}, {"Label5", "Proxy Username"}, {"EditProxyUsername", ""},
        {"Label6", "Proxy Password"}, {"EditProxyPassword", ""}, {"Button1", "OK"}, {"Button2", "Cancel"}}},
      {&app.FltDialog, "Re-Download failed files", {703, 453},
       {{"Button1", "Open *.ftl file and download..."}, {"Memo1", ""}}},
      // clang-format on
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.Title);
    d.Dialog->show();
    EXPECT_EQ(d.Dialog->windowTitle(), d.Title);
    EXPECT_EQ(std::tuple(d.Dialog->size(), d.Dialog->minimumSize(), d.Dialog->maximumSize()),
              std::tuple(d.Size, d.Size, d.Size));
    for (const auto& [name, text] : d.Controls) EXPECT_EQ(Text(d.Dialog, name), text) << name;
    d.Dialog->close();
    EXPECT_FALSE(d.Dialog->isVisible());
  }
}

TEST(DesktopDialogs, LooksAndPlaces) {
  TDesktopRun run;
  TApplication& app = *run.App;
  for (auto [dialog, name] : {std::pair<QWidget*, const char*>{&app.AboutDialog, "bLater"},
                              {&app.ConvertDialog, "Button1"},
                              {&app.OptionsDialog, "Button1"}})
    EXPECT_TRUE(Find<QPushButton>(dialog, name)->isDefault()) << name;
  EXPECT_TRUE(Find<QLineEdit>(&app.ConvertDialog, "Edit4")->isReadOnly());
  EXPECT_TRUE(Find<QLineEdit>(&app.OptionsDialog, "Edit2")->isReadOnly());

  auto* title = Find<QLabel>(&app.AboutDialog, "Label3");
  EXPECT_TRUE(title->wordWrap() && title->font().underline());
  EXPECT_EQ(Find<QWidget>(&app.AboutDialog, "Panel1")->height(), 145);
  for (const char* name : {"Label4", "Label7"}) {
    auto* link = Find<QLabel>(&app.AboutDialog, name);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 128, 0)) << name;
    EXPECT_TRUE(link->font().underline() && link->cursor().shape() == Qt::PointingHandCursor) << name;
  }
  app.FltDialog.show();
  EXPECT_EQ(Find<QWidget>(&app.FltDialog, "Panel1")->geometry(), QRect(0, 0, 703, 57));
  auto* memo = Find<QPlainTextEdit>(&app.FltDialog, "Memo1");
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(std::tuple(memo->font().pixelSize(), memo->verticalScrollBarPolicy()),
            std::tuple(13, Qt::ScrollBarAlwaysOn));
  app.FltDialog.close();

  // The converter: not modal, on top, Tab from field to field to the button.
  QWidget* convert = &app.ConvertDialog;
  Find<QAction>(run.Main(), "ConvertLongitudeorLatitudetodegreen1")->trigger();
  EXPECT_TRUE(convert->isVisible() && convert->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  std::vector<std::string> tabs;
  for (QWidget* w = Find<QWidget>(convert, "Edit1"); tabs.size() < 5; w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) tabs.push_back(w->objectName().toStdString());
  EXPECT_EQ(tabs, (std::vector<std::string>{"Edit1", "Edit2", "Edit3", "Edit4", "Button1"}));
  convert->close();

  // Options centred on the main window, wherever that is.
  run.Main()->move(10, 20);
  app.OptionsDialog.show();
  EXPECT_EQ(app.OptionsDialog.frameGeometry().center(), run.Main()->frameGeometry().center());
  app.OptionsDialog.close();
}

TEST(DesktopDialogs, OptionsOkWritesTheFieldsCancelWritesNothing) {
  TDesktopRun run("[IniParas]\r\nDefaultThreadCount=63\r\n");
  const fs::path folder = run.Dir / "tiles", config = run.Program / "ini" / "config.ini";
  fs::create_directories(folder);
  OpenModal(run, "Options2", [&](QWidget* dialog) {
    AnswerFileDialog(folder);
    QTest::mouseClick(Find<QPushButton>(dialog, "Button3"), Qt::LeftButton);
    // Twice up from 63: the arrows stop at 64.
    for (int i = 0; i < 2; ++i)
      QTest::mouseClick(Find<QWidget>(dialog, "UpDown1")->findChild<QWidget*>("Up"), Qt::LeftButton);
    QTest::mouseClick(Find<QCheckBox>(dialog, "CheckBoxUseProxy"), Qt::LeftButton, {}, QPoint(8, 8));
    QTest::keyClicks(Find<QLineEdit>(dialog, "EditProxyServer"), "proxy.local");
    QTest::keyClicks(Find<QLineEdit>(dialog, "EditProxyPort"), "8o80");
    QTest::keyClicks(Find<QLineEdit>(dialog, "EditProxyUsername"), "me");
    QTest::keyClicks(Find<QLineEdit>(dialog, "EditProxyPassword"), "s e=cret");
    QTest::keyClick(Find<QLineEdit>(dialog, "EditProxyPassword"), Qt::Key_Return);  // presses OK
  });
  const TIniFile ini(config);
  std::vector<std::string> written;
  for (const char* key : {"DefaultPath", "DefaultThreadCount"}) written.push_back(ini.ReadString("IniParas", key, "?"));
  for (const char* key : {"UseProxy", "ProxyServer", "ProxyPort", "ProxyUsername", "ProxyPassword"})
    written.push_back(ini.ReadString("Proxy", key, "?"));
  EXPECT_EQ(written, (std::vector<std::string>{folder.string(), "64", "1", "proxy.local", "8o80", "me", "s e=cret"}));

  // Reopened: the stored values; edits abandoned with Cancel are not written.
  const std::string stored = ReadAll(config);
  std::vector<std::string> shown;
  OpenModal(run, "Options2", [&](QWidget* dialog) {
    for (const char* name : {"Edit12", "Edit2", "EditProxyServer", "EditProxyPort", "EditProxyPassword"})
      shown.push_back(Text(dialog, name));
    shown.push_back(Find<QCheckBox>(dialog, "CheckBoxUseProxy")->isChecked() ? "ticked" : "clear");
    QTest::keyClicks(Find<QLineEdit>(dialog, "Edit12"), "/more");
    QTest::mouseClick(Find<QWidget>(dialog, "UpDown1")->findChild<QWidget*>("Down"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(dialog, "Button2"), Qt::LeftButton);
  });
  EXPECT_EQ(shown, (std::vector<std::string>{folder.string(), "64", "proxy.local", "8o80", "s e=cret", "ticked"}));
  EXPECT_EQ(ReadAll(config), stored);
}

TEST(DesktopDialogs, ConverterConvertsWhatIsTyped) {
  TDesktopRun run;
  Find<QAction>(run.Main(), "ConvertLongitudeorLatitudetodegreen1")->trigger();
  QWidget* convert = &run.App->ConvertDialog;
  const struct {
    const char *Degrees, *Minutes, *Seconds, *Result, *Message;
    bool Enter = false;  // in the last field, instead of the button
  } cases[] = {
      {"116", "23", "24", "116.389999389648", ""},
      {"-10", "30", "12abc", "-10.5033330917358", "", true},
      {"10.5", "30", "0", "-10.5033330917358", "Input Error."},  // the last result stays
      {"", "30", "0", "-10.5033330917358", "Input Error.", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Degrees);
    const char* values[] = {c.Degrees, c.Minutes, c.Seconds};
    for (int i = 0; i < 3; ++i) {
      auto* field = Find<QLineEdit>(convert, ("Edit" + std::to_string(i + 1)).c_str());
      field->clear();
      QTest::keyClicks(field, values[i]);
    }
    auto message = std::make_shared<std::optional<std::string>>();
    if (*c.Message) test::AnswerMessage(message);
    if (c.Enter)
      QTest::keyClick(Find<QLineEdit>(convert, "Edit3"), Qt::Key_Return);
    else
      QTest::mouseClick(Find<QPushButton>(convert, "Button1"), Qt::LeftButton);
    EXPECT_EQ(Text(convert, "Edit4"), c.Result);
    EXPECT_EQ(message->value_or(""), c.Message);
  }
}

// Catches what the program hands to the user's browser or mail program.
struct TOpened : QTextBrowser {
  QVariant loadResource(int, const QUrl&) override { return QString("-"); }
};

TEST(DesktopDialogs, AboutShowsTheMainCaptionOpensItsLinksAndClosesWithOk) {
  TDesktopRun run;
  run.App->Form1.Caption = "Meridane 7.02";  // read at every show
  TOpened opened;
  for (const char* scheme : {"https", "mailto"}) QDesktopServices::setUrlHandler(scheme, &opened, "setSource");
  std::string caption;
  QStringList links;
  OpenModal(run, "About1", [&](QWidget* dialog) {
    caption = Text(dialog, "Label3");
    for (const char* name : {"Label4", "Label7"}) {
      QTest::mouseClick(Find<QWidget>(dialog, name), Qt::LeftButton);
      links << opened.source().toString();
    }
    QTest::mouseClick(Find<QPushButton>(dialog, "bLater"), Qt::LeftButton);
  });
  for (const char* scheme : {"https", "mailto"}) QDesktopServices::unsetUrlHandler(scheme);
  EXPECT_EQ(caption, "Meridane 7.02");
  EXPECT_EQ(links, (QStringList{TForm1::HomePageAddress, QString("mailto:") + TForm1::SupportAddress}));
  EXPECT_FALSE(run.App->AboutDialog.isVisible());
}

// Against the local nginx: a tile that is served and one that is not.
TEST(DesktopDialogs, RedownloadShowsTheTranscriptLineByLine) {
  const std::string host = test::TestServerAddress("http");
  if (host.empty()) GTEST_SKIP() << "no test servers";
  TDesktopRun run;
  const fs::path list = run.Dir / "failed.ftl", tiles = run.Dir / "tiles";
  fs::create_directories(tiles);
  const std::string ok = (tiles / "gs_1_2_3.jpg").string(), okUrl = "http://" + host + "/tile.jpg",
                    missingUrl = "http://" + host + "/status/404";
  test::WriteAll(list, ok + "|" + okUrl + "\r\n" + (tiles / "gs_1_3_3.jpg").string() + "|" + missingUrl + "\r\n");

  QStringList shown;
  bool runningAfterClick = false, openAfterClose = false;
  OpenModal(run, "dowloadfailedfiles1", [&](QWidget* dialog) {
    auto* memo = Find<QPlainTextEdit>(dialog, "Memo1");
    AnswerFileDialog(list);
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    // The run goes on beside the window, which refuses to close meanwhile.
    runningAfterClick = run.App->frmFlt.Running() && memo->toPlainText() == "Start...";
    dialog->close();
    openAfterClose = dialog->isVisible();
    EXPECT_TRUE(test::WaitUntil([&] { return !run.App->frmFlt.Running(); }));
    shown = memo->toPlainText().split('\n');
    dialog->close();
  });
  EXPECT_EQ(shown, (QStringList{"Start...", QString::fromStdString(ok + ":" + okUrl + " ->OK"),
                                QString::fromStdString("HTTP/1.1 404 Not Found->" + missingUrl),
                                QString::fromStdString(missingUrl + ":Error: the image is not found on server."),
                                "Download End."}));
  EXPECT_EQ(ReadAll(ok), ReadAll(fs::path(std::getenv("MERIDANE_TEST_SERVERS_DIR")) / "content" / "tile.jpg"));
  EXPECT_TRUE(runningAfterClick);
  EXPECT_TRUE(openAfterClose);
  EXPECT_FALSE(run.App->FltDialog.isVisible());
}

// A server that goes silent on the second line: the window stays live (its
// transcript shows, it refuses to close), and Stop ends the run after the line
// at hand, without fetching the lines after it.
TEST(DesktopDialogs, RedownloadStaysLiveAndStops) {
  const std::string jpeg = "\xFF\xD8\xFF\xE0 tile";
  test::TFaultServer server({test::TFaultAction::Respond("HTTP/1.1 200 OK\r\nContent-Length: " +
                                                         std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg),
                             test::TFaultAction::Silence()});
  // Short: a Stop that failed ends the silent line anyway, and shows as the next line fetched.
  TDesktopRun run("[Download]\r\nStallTimeout=5\r\n");
  const fs::path list = run.Dir / "slow.ftl";
  std::string lines;
  for (int i = 0; i < 3; ++i)
    lines += run.Dir.Folder() + "gs_" + std::to_string(i) + "_1_1.jpg|" + server.Url("/" + std::to_string(i)) + "\r\n";
  test::WriteAll(list, lines);
  const QString first = QString::fromStdString(run.Dir.Folder() + "gs_0_1_1.jpg:" + server.Url("/0") + " ->OK");
  TfrmFlt& form = run.App->frmFlt;

  QStringList shown;
  OpenModal(run, "dowloadfailedfiles1", [&](QWidget* dialog) {
    auto* memo = Find<QPlainTextEdit>(dialog, "Memo1");
    auto* start = Find<QPushButton>(dialog, "Button1");
    auto* stop = Find<QPushButton>(dialog, "Button2");
    EXPECT_FALSE(stop->isVisible());
    AnswerFileDialog(list);
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_TRUE(test::WaitUntil([&] {
      return server.Requests().size() == 2 && memo->toPlainText() == "Start...\n" + first;
    })) << memo->toPlainText().toStdString();
    EXPECT_TRUE(form.Running());
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isVisible() && stop->isEnabled());
    EXPECT_EQ(stop->text(), "Stop");
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());

    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_TRUE(test::WaitUntil([&] { return !form.Running(); }));
    shown = memo->toPlainText().split('\n');
    EXPECT_FALSE(stop->isVisible());
    EXPECT_TRUE(start->isEnabled());
    dialog->close();
  });
  EXPECT_EQ(shown, (QStringList{"Start...", first, QString::fromStdString(TfrmFlt::StoppedLine(2)), "Download End."}));
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_FALSE(fs::exists(run.Dir / "gs_1_1_1.jpg"));
  EXPECT_FALSE(run.App->FltDialog.isVisible());
}

TEST(DesktopDialogs, BoxesOpenOverTheWindowThatAsks) {
  TDesktopRun run;
  QWidget* convert = &run.App->ConvertDialog;
  Find<QAction>(run.Main(), "ConvertLongitudeorLatitudetodegreen1")->trigger();
  QTest::keyClicks(Find<QLineEdit>(convert, "Edit1"), "x");
  const auto error = CloseNextModal();
  QTest::mouseClick(Find<QPushButton>(convert, "Button1"), Qt::LeftButton);
  EXPECT_EQ(error->Text, "Input Error.");
  EXPECT_EQ(error->Parent, convert);
  EXPECT_EQ(error->Transient, convert->windowHandle());
  EXPECT_TRUE(error->Modal && error->OnTop);

  // From the menu while the converter is up: on top as the converter is.
  for (const bool converterUp : {true, false}) {
    if (!converterUp) convert->close();
    const auto about = CloseNextModal();
    Find<QAction>(run.Main(), "About1")->trigger();
    EXPECT_EQ(std::tuple(about->Name, about->Modal, about->OnTop), std::tuple("frmAbout", true, converterUp));
  }
}

TEST(DesktopDialogs, AboutLinksByKeyboardAndWhenNothingOpensThem) {
  TDesktopRun run;
  QStringList opened;
  bool opens = true;
  run.App->Toolkit.Opener = [&](const QUrl& url) {
    opened << url.toString();
    return opens;
  };
  std::shared_ptr<TOpenedModal> failed;
  OpenModal(run, "About1", [&](QWidget* about) {
    for (const char* name : {"Label4", "Label7"}) {
      auto* link = Find<QWidget>(about, name);
      link->setFocus(Qt::TabFocusReason);
      QTest::keyClick(link, name == std::string("Label4") ? Qt::Key_Return : Qt::Key_Space);
    }
    EXPECT_TRUE(about->isVisible());  // Enter on a link does not press OK
    // A screen reader sees a link with its address, and can press it.
    QAccessibleInterface* link = QAccessible::queryAccessibleInterface(Find<QWidget>(about, "Label7"));
    EXPECT_EQ(link->role(), QAccessible::Link);
    EXPECT_EQ(link->text(QAccessible::Description), TForm1::SupportAddress);
    if (QAccessibleActionInterface* actions = link->actionInterface())
      actions->doAction(QAccessibleActionInterface::pressAction());
    opens = false;
    failed = CloseNextModal();
    QTest::mouseClick(Find<QWidget>(about, "Label4"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(about, "bLater"), Qt::LeftButton);
  });
  const QString home = TForm1::HomePageAddress, mail = QString("mailto:") + TForm1::SupportAddress;
  EXPECT_EQ(opened, (QStringList{home, mail, mail, home}));
  // The address in a box the user can copy it from, over the About box.
  EXPECT_EQ(failed->Text, "Nothing on this computer could open:\n" + home.toStdString());
  EXPECT_EQ(failed->Parent, &run.App->AboutDialog);
  EXPECT_TRUE(failed->Interaction.testFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard));
}

TEST(DesktopDialogs, NamesForScreenReadersAndKeysForFields) {
  TDesktopRun run;
  TApplication& app = *run.App;
  const struct {
    QDialog* Dialog;
    std::vector<std::pair<const char*, const char*>> Names;  // "UpDown1/Up": a child's child
    std::vector<std::pair<char, const char*>> Keys;          // Alt+letter, the control it reaches
  } dialogs[] = {
      // clang-format off
      {&app.AboutDialog,
       {{"Label4", "Homepage"}, {"Label7", "Email"}, {"bLater", "OK"}},
       {{'H', "Label4"}, {'E', "Label7"}}},
      {&app.ConvertDialog,
       {{"Edit1", "Degrees"}, {"Edit2", "Minutes"}, {"Edit3", "Seconds"}, {"Edit4", "Degrees"}, {"Button1", "convert"}},
       {{'D', "Edit1"}, {'R', "Edit4"}}},
      {&app.OptionsDialog,
       {{"Edit12", "Default path to save"}, {"Button3", "Select path"}, {"Edit2", "Default threads number"},
        {"UpDown1/Up", "More threads"}, {"UpDown1/Down", "Fewer threads"}, {"CheckBoxUseProxy", "Use proxy server"},
        {"EditProxyServer", "Proxy Server Name (IP)"}, {"EditProxyPort", "Proxy Port"},
        {"EditProxyUsername", "Proxy Username"}, {"EditProxyPassword", "Proxy Password"}},
       {{'P', "Edit12"}, {'N', "Edit2"}, {'S', "EditProxyServer"}, {'T', "EditProxyPort"},
        {'U', "EditProxyUsername"}, {'A', "EditProxyPassword"}}},
      {&app.FltDialog, {{"Button1", "Open *.ftl file and download..."}, {"Memo1", "Log"}}, {}},
      // clang-format on
  };
  const auto control = [](QWidget* dialog, const char* path) {
    QWidget* found = dialog;
    for (const QString& name : QString(path).split('/')) found = found ? found->findChild<QWidget*>(name) : nullptr;
    EXPECT_NE(found, nullptr) << path;
    return found;
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.Dialog->objectName().toStdString());
    d.Dialog->show();
    // The offscreen platform does not activate a window as it is shown.
    QApplication::setActiveWindow(d.Dialog);
    for (const auto& [path, name] : d.Names) {
      QWidget* widget = control(d.Dialog, path);
      if (!widget) continue;
      EXPECT_EQ(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), name) << path;
    }
    for (const auto& [key, path] : d.Keys) {
      if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
      QTest::keyClick(d.Dialog, Qt::Key(key), Qt::AltModifier);
      EXPECT_EQ(QApplication::focusWidget(), control(d.Dialog, path)) << key;
    }
    d.Dialog->close();
  }
}

TEST(DesktopDialogs, RedownloadFilterAndLongLines) {
  TDesktopRun run;
  TfrmFlt& form = run.App->frmFlt;
  int shownWidth = 0;
  std::shared_ptr<TOpenedModal> files;
  OpenModal(run, "dowloadfailedfiles1", [&](QWidget* dialog) {
    files = CloseNextModal();
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    // A deep folder and a long address: the end of the line ("->OK") in view.
    form.Memo1.Add("/home/someone/" + std::string(60, 'm') + "/gs_6010_3000_13.jpg:http://" + std::string(90, 'h') +
                   ".example/tiles?x=6010&y=3000&z=13 ->OK");
    form.OnLine("");
    auto* memo = Find<QPlainTextEdit>(dialog, "Memo1");
    shownWidth = memo->horizontalScrollBar()->maximum();
    dialog->close();
  });
  EXPECT_EQ(files->Text, "Projects (*.ftl)");
  EXPECT_EQ(shownWidth, 0);  // nothing to scroll to sideways
}

}  // namespace
}  // namespace meridane
