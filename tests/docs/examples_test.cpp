// Every example script under examples/Script runs with the real velmar
// binary against the example site that ships with them (its static pages,
// the login, the upload and the captcha), as a user runs them. Examples
// that need a person at a window are loaded and checked line by line
// instead.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/keyword_table.h"
#include "engine/script_program.h"
#include "support/test_support.h"
#include "values/code_page.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunVelmar;
using testing::TempDir;

const fs::path kExamples = fs::path(VELMAR_SOURCE_DIR) / "examples" / "Script";
constexpr char kGbkTitleUtf8[] = "天气预报 上海";

// The example site that ships with the examples (examples/site/serve.py),
// started as a user starts it, on a free loopback port.
class ExampleSite {
 public:
  ExampleSite() : port_(testing::FreeLoopbackPort()) {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string script = (kExamples.parent_path() / "site" / "serve.py").string();
      const std::string port = std::to_string(port_);
      execlp("python3", "python3", script.c_str(), "--port", port.c_str(), "--quiet",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    ok_ = pid_ > 0 && testing::WaitForPort(port_, 20000);
  }
  ~ExampleSite() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool ok() const { return ok_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int port_;
  pid_t pid_ = -1;
  bool ok_ = false;
};

class Examples : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { site_ = new ExampleSite(); }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }

  void SetUp() override {
    if (!site_->ok()) VELMAR_SKIP_WITHOUT("python3 for the example site");
  }

  std::string StaticBase() const { return site_->base(); }
  std::string SiteBase() const { return site_->base(); }

  // Runs an example in a fresh home folder and expects it to end normally.
  testing::ProcessResult Run(const std::string& script, const std::string& base,
                             const std::vector<std::string>& extra = {},
                             const std::string& input = {}) {
    std::vector<std::string> args = {"run", "--home", home_.path().string()};
    if (!base.empty()) args.insert(args.end(), {"--param", base});
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back((kExamples / script).string());
    testing::ProcessResult r = RunVelmar(args, input, 60);
    EXPECT_EQ(r.exitCode, 0) << script << "\n" << r.out << r.err;
    EXPECT_EQ(r.out.find("alert: "), std::string::npos) << script << "\n" << r.out;
    return r;
  }

  static bool Has(const testing::ProcessResult& r, const std::string& line) {
    return r.out.find(line + "\n") != std::string::npos;
  }

  TempDir home_;
  static ExampleSite* site_;
};

ExampleSite* Examples::site_ = nullptr;

TEST_F(Examples, HelloCountsAndLeavesANote) {
  const auto r = Run("hello.vlm", "");
  EXPECT_TRUE(Has(r, "right: the sum of 1, 2 and 3 is 6")) << r.out;
  EXPECT_TRUE(fs::exists(home_.path() / "Temp" / "note_1.txt"));
}

TEST_F(Examples, FetchFieldsCutsEveryProduct) {
  const auto r = Run("fetch_fields.vlm", StaticBase());
  EXPECT_TRUE(Has(r, "show: Apple costs 2.50")) << r.out;
  EXPECT_TRUE(Has(r, "show: Farmer's cheese costs 7.80"));
  EXPECT_TRUE(Has(r, "show: Bread costs 1.20"));
  EXPECT_TRUE(Has(r, "right: 3 products"));
}

TEST_F(Examples, LoginKeepsTheSessionCookie) {
  const auto r = Run("login_cookies.vlm", SiteBase());
  EXPECT_TRUE(Has(r, "show: logged in, session abc123")) << r.out;
  EXPECT_TRUE(Has(r, "show: the account page says: Welcome, alice"));
  EXPECT_TRUE(Has(r, "right: cookies saved"));
  EXPECT_EQ(ReadFile(home_.path() / "session_cookies.txt"), "session^abc123\r\n");
}

TEST_F(Examples, UploadSendsTheFileAndTheField) {
  const auto r = Run("upload_file.vlm", SiteBase());
  EXPECT_TRUE(Has(r, "show: server: received report.txt (18 bytes) titled Monthly report"))
      << r.out;
}

TEST_F(Examples, PagedListingFollowsNextLinksToTheEnd) {
  const auto r = Run("paged_listing.vlm", StaticBase());
  EXPECT_TRUE(Has(r, "show: page 1 item: a")) << r.out;
  EXPECT_TRUE(Has(r, "show: page 2 item: d"));
  EXPECT_TRUE(Has(r, "show: page 3 item: g"));
  EXPECT_TRUE(Has(r, "right: 7 items on 3 pages"));
}

TEST_F(Examples, StoreSqliteWritesAndReadsBackSortedRows) {
  const auto r = Run("store_sqlite.vlm", StaticBase());
  EXPECT_TRUE(Has(r, "show: 3 products stored")) << r.out;
  const std::size_t bread = r.out.find("show: Bread: 1.20\n");
  const std::size_t apple = r.out.find("show: Apple: 2.50\n");
  const std::size_t cheese = r.out.find("show: Farmer's cheese: 7.80\n");
  ASSERT_NE(bread, std::string::npos) << r.out;
  ASSERT_NE(apple, std::string::npos);
  ASSERT_NE(cheese, std::string::npos);
  EXPECT_LT(bread, apple);
  EXPECT_LT(apple, cheese);
  EXPECT_TRUE(fs::exists(home_.path() / "products.db"));
  // A second run starts the table afresh.
  EXPECT_TRUE(Has(Run("store_sqlite.vlm", StaticBase()), "show: 3 products stored"));
}

TEST_F(Examples, GbkPageIsReadInItsOwnCodePage) {
  const auto r = Run("gbk_page.vlm", StaticBase(), {"--codepage", "936"});
  const std::string title = CodePage::Get(CodePage::kGbk).FromUtf8(kGbkTitleUtf8);
  ASSERT_EQ(title.size(), 13u);
  EXPECT_TRUE(Has(r, "show: title: " + title + " (13 bytes)")) << r.out;
  EXPECT_EQ(ReadFile(home_.path() / "gbk_title.txt"), title);
}

TEST_F(Examples, CaptchaIsDownloadedAndTheAnswerSent) {
  const auto r = Run("captcha_prompt.vlm", SiteBase(), {}, "x7k2\n");
  EXPECT_NE(r.out.find("prompt: Please type the characters you see:<br><img src=\"file://" +
                       home_.path().string() + "/Temp/captcha_1.png\">\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(ReadFile(home_.path() / "Temp" / "captcha_1.png").rfind("\x89PNG\r\n", 0), 0u);
  EXPECT_TRUE(Has(r, "show: server: code accepted"));

  // A cancelled prompt (empty answer) sends nothing.
  const auto none = Run("captcha_prompt.vlm", SiteBase(), {}, "\n");
  EXPECT_TRUE(Has(none, "left: no answer given")) << none.out;
}

TEST_F(Examples, NativeCallReachesTheCLibrary) {
  const auto r = Run("native_call.vlm", "");
  EXPECT_TRUE(Has(r, "show: strlen: 11")) << r.out;
  EXPECT_TRUE(Has(r, "show: abs: 42"));
  EXPECT_TRUE(Has(r, "show: atoi: 123"));
  EXPECT_TRUE(Has(r, "show: strncmp: 0"));
}

TEST_F(Examples, JavascriptResultsArriveInReturn) {
  const auto r = Run("javascript.vlm", "");
  EXPECT_TRUE(Has(r, "show: sorted: apple fig pear")) << r.out;
  EXPECT_TRUE(Has(r, "show: version: 1.5"));
  EXPECT_TRUE(Has(r, "show: sum of 1 to 10: 55"));
  EXPECT_TRUE(Has(r, "show: a syntax error gives status 0"));
}

TEST_F(Examples, TextToolsUseTheBuiltins) {
  const auto r = Run("text_tools.vlm", "");
  EXPECT_TRUE(Has(r, "show: 3 fields: Shanghai, 24.5, sunny")) << r.out;
  EXPECT_TRUE(Has(r, "show: upper case: SHANGHAI"));
  EXPECT_TRUE(Has(r, "show: \"hai\" at 5, last \"a\" at 6"));
  EXPECT_TRUE(Has(r, "show: first five: Shang"));
  EXPECT_TRUE(Has(r, "show: replaced: Shanghai | 24.5 | sunny"));
  EXPECT_TRUE(Has(r, "show: for a URL: Shanghai+%26+sunny"));
  EXPECT_TRUE(Has(r, "show: in Fahrenheit: 76.1"));
  EXPECT_TRUE(Has(r, "show: no umbrella needed"));
  EXPECT_TRUE(Has(r, "show: read back: Shanghai;24.5;sunny (1 line)"));
}

// Every example, also those that need a person: each line is a statement,
// a label, a comment or empty (a misspelt keyword would silently turn into
// text of the statement above), every literal goto/call target exists, and
// each starts at <main> and says what it does in a header comment.
TEST(ExampleScripts, AreWellFormed) {
  const EngineEnvironment env =
      EngineEnvironment::ForHome(kExamples.parent_path(), KeywordFlavor::kRunner);
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator(kExamples)) {
    if (entry.path().extension() != ".vlm") continue;
    ++count;
    const std::string name = entry.path().filename().string();
    std::ifstream in(entry.path());
    std::string line;
    int number = 0;
    bool header = true;
    int headerLines = 0;
    while (std::getline(in, line)) {
      ++number;
      const std::string_view text = CodePage::Trim(line);
      if (header && text.rfind("//", 0) == 0) ++headerLines;
      header = header && text.rfind("//", 0) == 0;
      if (text.empty() || text.rfind("//", 0) == 0) continue;
      std::string word(text.substr(0, text.find_first_of(" \t")));
      for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const bool label = word.size() >= 3 && word.front() == '<' && word.back() == '>';
      EXPECT_TRUE(label || LookupKeyword(word, KeywordFlavor::kRunner) != 0)
          << name << ":" << number << ": " << line;
    }
    EXPECT_GE(headerLines, 2) << name << " needs a header comment";
    const ScriptProgram program = LoadScriptFile(entry.path().string(), env);
    EXPECT_NE(program.FindLabel("<main>"), nullptr) << name;
    for (const ScriptCommand& command : program.commands) {
      if (command.id != stmt::kGoto && command.id != stmt::kCall) continue;
      if (command.text.find('[') != std::string::npos) continue;
      EXPECT_NE(program.FindLabel(command.text), nullptr) << name << ": " << command.text;
    }
  }
  EXPECT_GE(count, 10u);
}

}  // namespace
}  // namespace velmar
