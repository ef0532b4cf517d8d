// Loading script files and the #import, #library and #option directives, on real files in a
// temporary folder.
#include "script/front/loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "script/front/syntax.h"
#include "tests/script/front/front_harness.h"

namespace keytwine::testing {
namespace {

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordedErrors().clear();
    natives_[0] = {kErrorNativeName, 0, &RecordError};
    InstallNativeTable(natives_, 1);
    InstallLoader();
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("keytwine-loader-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    engine_ = NewEngine(0);
  }
  void TearDown() override {
    FreeScriptChain(engine_, &ReleaseChain);
    SetDirectiveHandler(nullptr);
    InstallNativeTable(nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void Write(const std::string& name, const std::string& text) {
    std::filesystem::create_directories((dir_ / name).parent_path());
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string Dir() const { return dir_.string(); }
  int32_t Load(const std::string& file) {
    return LoadScriptFile(engine_, Dir().c_str(), file.c_str());
  }

  // Names of the loaded scripts in chain order.
  std::string Names() const {
    std::string names;
    for (Script* s = engine_->next; s != nullptr; s = s->next) {
      if (!names.empty()) names += ' ';
      names += s->name;
    }
    return names;
  }
  Script* Find(const char* name) const {
    for (Script* s = engine_->next; s != nullptr; s = s->next) {
      if (std::string(s->name) == name) return s;
    }
    return nullptr;
  }
  const std::vector<std::string>& Errors() const { return RecordedErrors(); }

  std::filesystem::path dir_;
  Script* engine_ = nullptr;
  NativeEntry natives_[1]{};
};

TEST_F(Loader, LoadsParsesAndRegistersOnce) {
  Write("main.ns", "x = 1;\n");
  Write("MAIN.txt", "y = 2;\n");
  EXPECT_EQ(Load("main.ns"), 1);
  EXPECT_EQ(Load("main.ns"), 1);
  EXPECT_EQ(Load("MAIN.txt"), 1);  // same name before the first dot, letter case aside
  EXPECT_EQ(Names(), "main");
  Script* main = Find("main");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(std::string(main->directory), Dir() + "/");
  EXPECT_STREQ(main->source, "x = 1;\n");
  EXPECT_NE(main->topLevel, nullptr);
  EXPECT_EQ(main->engine, engine_);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Loader, EmptyFileLoadsWithoutTextOrChain) {
  Write("empty.ns", "");
  EXPECT_EQ(Load("empty.ns"), 1);
  Script* empty = Find("empty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->source, nullptr);
  EXPECT_EQ(empty->topLevel, nullptr);
}

TEST_F(Loader, MissingFileOrFolderIsAFileOpenErrorAndNothingIsCreated) {
  EXPECT_EQ(Load("missing.ns"), 0);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], "### Error: File open error : missing : " + Dir() + "/missing.ns");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.ns"));
  std::filesystem::create_directories(dir_ / "folder.ns");
  EXPECT_EQ(Load("folder.ns"), 0);
  EXPECT_EQ(Errors().size(), 2u);
}

TEST_F(Loader, OverlongPathIsAFileOpenErrorNotAnOverrun) {
  const std::string longName = std::string(300, 'n') + ".ns";
  EXPECT_EQ(Load(longName), 0);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].rfind("### Error: File open error : ", 0), 0u);
  EXPECT_EQ(engine_->next, nullptr);
}

TEST_F(Loader, ParseErrorStillLoads) {
  Write("bad.ns", "x = ;\ny = (;\n");
  EXPECT_EQ(Load("bad.ns"), 1);
  EXPECT_EQ(Find("bad")->topLevel, nullptr);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], "### Error: Parenthesis error : bad:(2) : y = (;");
}

TEST_F(Loader, ImportLoadsMatchesInOrderAndSkipsItself) {
  Write("a.ns", "#import(\"*.ns\")\nx = 1;\n");
  Write("c.ns", "z = 3;\n");
  Write("b.ns", "y = 2;\n");
  Write("d.txt", "not a script(\n");
  EXPECT_EQ(Load("a.ns"), 1);
  EXPECT_EQ(Names(), "a b c");
  EXPECT_NE(Find("a")->topLevel, nullptr);  // the parse went on after the directive
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Loader, CircularImportsLoadEachScriptOnce) {
  Write("a.ns", "#import(b.ns)\n");
  Write("b.ns", "#import(a.ns)\n#import(b.ns)\n");
  EXPECT_EQ(Load("a.ns"), 1);
  EXPECT_EQ(Names(), "a b");
}

TEST_F(Loader, ImportFromSubfolderWithEitherSeparator) {
  Write("main.ns", "#import(\"sub\\*.ns\")\n#IMPORTX(other/o.ns)\n");
  Write("sub/s1.ns", "");
  Write("sub/s2.ns", "");
  Write("other/o.ns", "");
  EXPECT_EQ(Load("main.ns"), 1);
  EXPECT_EQ(Names(), "main s1 s2 o");
  EXPECT_EQ(std::string(Find("s1")->directory), Dir() + "/sub\\");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Loader, ImportKeepsTrailingBlanksAndIgnoresFailures) {
  Write("main.ns", "#import(b.ns )\n#import(nothing*.ns)\nx = 1;\n");
  Write("b.ns", "");
  EXPECT_EQ(Load("main.ns"), 1);
  EXPECT_EQ(Names(), "main");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(ImportFiles(engine_, Dir().c_str(), std::string(300, '*').c_str()), 0);
}

TEST_F(Loader, OptionExplicitSetsOnlyItsScript) {
  Write("a.ns", "#option(Explicit)\n#import(b.ns)\n");
  Write("b.ns", "#option(strict)\n");
  EXPECT_EQ(Load("a.ns"), 1);
  EXPECT_EQ(Find("a")->optionExplicit, 1);
  EXPECT_EQ(Find("b")->optionExplicit, 0);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Loader, LibraryLoadErrorKeepsAnEmptyEntryAndTheScriptParses) {
  Write("a.ns", "#library(\"missing-module.so\")\n#library(" KEYTWINE_TEST_MODULE ")\nx = 1;\n");
  EXPECT_EQ(Load("a.ns"), 1);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], "### Error: Library load error : a : missing-module.so");
  ASSERT_NE(engine_->libraries, nullptr);
  EXPECT_EQ(engine_->libraries->module, nullptr);
  ASSERT_NE(engine_->libraries->next, nullptr);
  EXPECT_NE(engine_->libraries->next->module, nullptr);
  EXPECT_NE(Find("a")->topLevel, nullptr);
}

TEST_F(Loader, MalformedDirectivesFailTheParseAtTheirWord) {
  Write("a.ns", "x = 1;\n  #frobnicate(1)\n");
  Write("b.ns", "#import \"x\";\n");
  Write("c.ns", "y = 2;\n#import(\"a\"\n");
  EXPECT_EQ(Load("a.ns"), 1);
  EXPECT_EQ(Load("b.ns"), 1);
  EXPECT_EQ(Load("c.ns"), 1);
  EXPECT_EQ(Find("a")->topLevel, nullptr);
  EXPECT_EQ(Find("b")->topLevel, nullptr);
  EXPECT_EQ(Find("c")->topLevel, nullptr);
  ASSERT_EQ(Errors().size(), 3u);
  EXPECT_EQ(Errors()[0], "### Error: Sentence error : a:(2) : #frobnicate(1)");
  EXPECT_EQ(Errors()[1], "### Error: Sentence error : b:(1) : #import \"x\";");
  EXPECT_EQ(Errors()[2], "### Error: Parenthesis error : c:(2) : #import(\"a\"");
}

}  // namespace
}  // namespace keytwine::testing
