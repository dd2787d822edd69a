// A failed-tile list of any content through the re-download dialog. The server
// refuses every tile with the URL's own text for its message, so the run sorts
// failures by hostile texts, checks hostile paths, and must write no file.
#include "fuzz/FuzzInput.h"
#include "ui/FailedForm.h"
#include "ui/HeadlessToolkit.h"

using namespace meridane;

namespace {
struct TRefusingClient : IHttpClient {
  void Get(const std::string& url, std::string&) override { throw EHttpError(url); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const test::TTempDir& folder = fuzz::Folder();
  const std::filesystem::path list = folder / "list.ftl";
  test::WriteAll(list, std::string(reinterpret_cast<const char*>(data), size));

  THeadlessToolkit toolkit;
  TfrmFlt dialog(toolkit, folder / "config.ini", [] { return std::make_unique<TRefusingClient>(); });
  toolkit.OpenFileAnswers.push_back(list.string());
  dialog.Button1Click();
  while (dialog.Running()) toolkit.Pump(std::chrono::milliseconds(10));
  FUZZ_CHECK(toolkit.Errors.empty());
  const std::size_t last = dialog.Memo1.Count() - 1;
  FUZZ_CHECK(dialog.Memo1.Count() > 0 &&
             (dialog.Memo1.Line(last) == TfrmFlt::EndLine || dialog.Memo1.Line(last) == TfrmFlt::EmptyList));
  FUZZ_CHECK(test::EntryCount(folder.Path()) == 1);
  return 0;
}
