#include "KivUtilsOptions.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "KivLoad.h"
#include "KivLog.h"
#include "SwScaleStubs.h"
#include "TestSupport.h"

using namespace kiv;

namespace {

// Collects what the option code says through av_log, one entry per call.
std::mutex LogMutex;
std::vector<std::pair<int, std::string>> LogEntries;

void CaptureLog(void*, int ALevel, const char* AFormat, va_list AArgs) {
  char text[1024];
  vsnprintf(text, sizeof text, AFormat, AArgs);
  std::lock_guard<std::mutex> guard(LogMutex);
  LogEntries.emplace_back(ALevel, text);
}

std::string Value(AVDictionary* ADict, const char* AKey) {
  AVDictionaryEntry* entry = av::av_dict_get(ADict, AKey, nullptr, 0);
  return entry ? entry->value : "<none>";
}

class OptionsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(KivLoader->Load(AVLibraries)) << KivLoader->LastErrMsg(); }
  void SetUp() override {
    av::av_log_set_callback(CaptureLog);
    av::av_log_set_level(AV_LOG_DEBUG);
    LogEntries.clear();
    Options.init_opts();
  }
  bool Logged(int ALevel, const std::string& AText) {
    for (const auto& [level, text] : LogEntries)
      if (level == ALevel && text == AText) return true;
    return false;
  }
  TKivOptions Options;
};

TEST_F(OptionsTest, NewStoreHasBicubicFlagsAndNoDictionaries) {
  TKivOptions fresh;
  EXPECT_EQ(fresh.sws_flags(), 4u);
  EXPECT_EQ(fresh.sws_dict(), nullptr);
  EXPECT_EQ(fresh.codec_opts(), nullptr);
  fresh.init_opts();
  EXPECT_EQ(Value(fresh.sws_dict(), "flags"), "bicubic");
}

TEST_F(OptionsTest, OptDefaultRoutesEachNameToTheComponentsThatKnowIt) {
  struct Case {
    const char* name;
    const char* value;
    bool codec, format, sws, swr;
  } cases[] = {
      {"skip_frame", "nokey", true, false, false, false},  // codec only
      {"probesize", "5000000", false, true, false, false},  // format only
      {"strict", "experimental", true, true, false, false},  // both
      {"threads", "2", true, false, false, false},  // codec takes it before the scaler
      {"sws_flags", "bilinear", false, false, true, false},
      {"filter_size", "16", false, false, false, true},
      {"b:a:1", "128k", true, false, false, false},  // found by the name before ':'
      {"vb", "1M", true, false, false, false},       // found by the name after the prefix
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Options.init_opts();
    LogEntries.clear();
    EXPECT_EQ(Options.opt_default(c.name, c.value), 0);
    EXPECT_EQ(Value(Options.codec_opts(), c.name), c.codec ? c.value : "<none>");
    EXPECT_EQ(Value(Options.format_opts(), c.name), c.format ? c.value : "<none>");
    EXPECT_EQ(Value(Options.sws_dict(), c.name), c.sws ? c.value : "<none>");
    EXPECT_EQ(Value(Options.swr_opts(), c.name), c.swr ? c.value : "<none>");
    EXPECT_EQ(Logged(AV_LOG_VERBOSE, "Routing option \"" + std::string(c.name) +
                                         "\" to both codec and muxer layer\n"),
              c.codec && c.format);
  }
}

TEST_F(OptionsTest, OptDefaultFailures) {
  EXPECT_EQ(Options.opt_default("no_such_option", "1"), AVERROR_OPTION_NOT_FOUND);
  EXPECT_TRUE(LogEntries.empty());

  // The scaler accepts the value, but its geometry is not set this way.
  EXPECT_EQ(Options.opt_default("srcw", "100"), AVERROR(EINVAL));
  EXPECT_TRUE(Logged(AV_LOG_ERROR,
                     "Directly using swscale dimensions/format options is not supported, please "
                     "use the -s or -pix_fmt options\n"));

  EXPECT_LT(Options.opt_default("sws_flags", "no_such_flag"), 0);
  EXPECT_TRUE(Logged(AV_LOG_ERROR, "Error setting option \"sws_flags\"\n"));
  EXPECT_LT(Options.opt_default("filter_size", "not a number"), 0);
  EXPECT_TRUE(Logged(AV_LOG_ERROR, "Error setting option \"filter_size\"\n"));
  EXPECT_EQ(Value(Options.sws_dict(), "sws_flags"), "<none>");
}

TEST_F(OptionsTest, DebugOptionsRaiseTheLoggerToDebug) {
  for (const char* name : {"debug", "fdebug"}) {
    SCOPED_TRACE(name);
    CurrentLogger().SetLogLevel(llInfo);
    Options.opt_default(name, "1");
    EXPECT_EQ(CurrentLogger().LogLevel(), llDebug);
  }
}

TEST_F(OptionsTest, SignedFlagValuesAppend) {
  EXPECT_EQ(Options.opt_default("flags", "+gray"), 0);
  EXPECT_EQ(Options.opt_default("flags", "+loop"), 0);
  EXPECT_EQ(Value(Options.codec_opts(), "flags"), "+gray+loop");
  EXPECT_EQ(Options.opt_default("flags", "gray"), 0);  // unsigned: replaces
  EXPECT_EQ(Value(Options.codec_opts(), "flags"), "gray");
}

TEST_F(OptionsTest, FetchSwsFlagsReadsOnlyTheScalerFlagsOption) {
  EXPECT_EQ(Options.FetchSwsFlags(), 0);
  EXPECT_EQ(Options.sws_flags(), 4u);  // "flags" = "bicubic" is not consulted
  ASSERT_EQ(Options.opt_default("sws_flags", "bilinear+accurate_rnd"), 0);
  EXPECT_EQ(Options.FetchSwsFlags(), 0);
  EXPECT_EQ(Options.sws_flags(), unsigned(SWS_BILINEAR | SWS_ACCURATE_RND));
}

TEST_F(OptionsTest, SettersTakeOwnershipAndFreeWhatTheyReplace) {
  AVDictionary* dict = nullptr;
  av::av_dict_set(&dict, "probesize", "32", 0);
  Options.Setformat_opts(dict);
  EXPECT_EQ(Value(Options.format_opts(), "probesize"), "32");
  Options.Setformat_opts(nullptr);  // frees it: the leak checker sees no loss
  EXPECT_EQ(Options.format_opts(), nullptr);
}

// The parser walks an argument vector as a command line would give it.
class ParseTest : public OptionsTest {
 protected:
  static constexpr TOptionDef Table[] = {
      {"video", OPT_BOOL, {nullptr}, "enable video", nullptr},
      {"size", OPT_HAS_ARG, {nullptr}, "picture size", "size"},
      {"ss", OPT_HAS_ARG | OPT_PERFILE, {nullptr}, "start time", "time"},
      {nullptr, 0, {nullptr}, nullptr, nullptr},
  };
  int32_t Parse(std::vector<const char*> AArgs, bool AReturnOnInvalid) {
    Args.assign(AArgs.begin(), AArgs.end());
    Args.push_back(nullptr);
    Options.init_parse_context();
    return Options.parse_options(nullptr, int32_t(AArgs.size()), const_cast<char**>(Args.data()),
                                 Table, "", AReturnOnInvalid);
  }
  std::vector<std::string> Recorded(const TOptionGroup& AGroup) {
    std::vector<std::string> out;
    for (int i = 0; i < AGroup.nb_opts; ++i)
      out.push_back(std::string(AGroup.opts[i].key) + "=" + AGroup.opts[i].val + "@" +
                    AGroup.opts[i].opt->name);
    return out;
  }
  void TearDown() override { Options.uninit_parse_context(); }
  std::vector<const char*> Args;
};

TEST_F(ParseTest, RecordsTableOptionsInTheirGroupsAndRoutesTheRest) {
  ASSERT_EQ(Parse({"-size", "640x480", "-novideo", "-ss", "10", "-threads", "3", "-video"}, true),
            0);
  POptionParseContext context = Options.OptionParseContext();
  EXPECT_EQ(Recorded(context->global_opts),
            (std::vector<std::string>{"size=640x480@size", "novideo=0@video", "video=1@video"}));
  EXPECT_EQ(Recorded(context->file_opts), (std::vector<std::string>{"ss=10@ss"}));
  // The dictionaries filled on the way move to the file group; the store starts afresh.
  EXPECT_EQ(Value(context->file_opts.codec_opts, "threads"), "3");
  EXPECT_EQ(Value(Options.sws_dict(), "flags"), "bicubic");
  EXPECT_EQ(Options.codec_opts(), nullptr);
  EXPECT_TRUE(Logged(AV_LOG_DEBUG, "Finished parsing the options.\n"));
}

TEST_F(ParseTest, StrayWordsAndErrors) {
  struct Case {
    const char* title;
    std::vector<const char*> args;
    bool returnOnInvalid;
    int32_t result;
    std::string message;
  } cases[] = {
      {"stray word ignored", {"movie.mkv", "-threads", "2"}, false, 0,
       "Invalid option \"movie.mkv\" found while parsing options, ignore\n"},
      {"stray word refused", {"movie.mkv", "-threads", "2"}, true, AVERROR(EINVAL),
       "Failed to parse options on \"movie.mkv\"\n"},
      {"empty word refused", {""}, true, AVERROR(EINVAL), "Failed to parse options\n"},
      {"lone dash ignored", {"-"}, false, 0,
       "Invalid option \"-\" found while parsing options, ignore\n"},
      {"missing argument", {"-size"}, false, AVERROR(EINVAL),
       "Missing argument for option \"size\".\n"},
      {"unknown option refused", {"-bogus", "1"}, true, AVERROR_OPTION_NOT_FOUND,
       "Unrecognized option \"bogus\".\n"},
      {"unknown option ignored", {"-bogus", "1"}, false, 0, "Unrecognized option \"bogus\".\n"},
      {"bad value", {"-srcw", "10"}, false, AVERROR(EINVAL),
       "Error parsing option \"srcw\" with argument \"10\".\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    LogEntries.clear();
    EXPECT_EQ(Parse(c.args, c.returnOnInvalid), c.result);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, c.message));
  }
}

TEST_F(ParseTest, ASecondParseWithoutANewContextIsAProgrammingError) {
  ASSERT_EQ(Parse({"-video"}, true), 0);
  std::vector<const char*> args = {"-video", nullptr};
  EXPECT_THROW(Options.parse_options(nullptr, 1, const_cast<char**>(args.data()), Table, "", true),
               EAssertionFailed);
}

TEST(GrowOptsArray, RefusesCountsThatOverflowAndKeepsLargerArrays) {
  int32_t count = 0;
  EXPECT_THROW(
      {
        try {
          grow_opts_array(nullptr, 24, count, INT_MAX / 24);
        } catch (const EOptionError& e) {
          EXPECT_STREQ(e.what(), "Array too big.");
          throw;
        }
      },
      EOptionError);
  char marker;
  count = 5;
  EXPECT_EQ(grow_opts_array(&marker, 24, count, 3), &marker);
  EXPECT_EQ(count, 5);
}

// Per-stream codec options of a file with one video and two audio streams.
class StreamOptionsTest : public OptionsTest {
 protected:
  void SetUp() override {
    OptionsTest::SetUp();
    ASSERT_EQ(av::avformat_open_input(&Context, kivtest::MediaFile("two_audio.mkv").c_str(),
                                      nullptr, nullptr),
              0);
    ASSERT_EQ(Context->nb_streams, 3u);
  }
  void TearDown() override { av::avformat_close_input(&Context); }
  std::string PerStream(AVDictionary* ADict, const char* AKey) {
    std::string out;
    for (unsigned i = 0; i < Context->nb_streams; ++i) {
      AVDictionary* d = stream_codec_opts(ADict, Context->streams[i]->codecpar->codec_id, Context,
                                          Context->streams[i], nullptr);
      out += (i ? "," : "") + Value(d, AKey);
      av::av_dict_free(&d);
    }
    return out;
  }
  AVFormatContext* Context = nullptr;
};

TEST_F(StreamOptionsTest, SpecifiersAndPrefixesChooseTheStreams) {
  struct Case {
    const char* key;
    const char* bare;
    const char* expected;
  } cases[] = {
      {"threads:a:1", "threads", "<none>,<none>,2"},
      {"threads:a", "threads", "<none>,2,2"},
      {"vskip_frame", "skip_frame", "2,<none>,<none>"},
      {"threads:s", "threads", "<none>,<none>,<none>"},  // names no stream
      {"threads", "threads", "2,2,2"},
      {"b", "b", "<none>,<none>,<none>"},  // an encoding option: no decoder takes it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    Options.init_opts();
    ASSERT_EQ(Options.opt_default(c.key, "2"), 0);
    EXPECT_EQ(PerStream(Options.codec_opts(), c.bare), c.expected);
  }
}

TEST_F(StreamOptionsTest, AMalformedSpecifierRaises) {
  ASSERT_EQ(Options.opt_default("b:zz", "1"), 0);
  try {
    PerStream(Options.codec_opts(), "b");
    FAIL() << "no error raised";
  } catch (const EOptionError& e) {
    EXPECT_STREQ(e.what(), "invalid stream specification");
  }
  EXPECT_THROW(stream_info_opts(Context, Options.codec_opts()), EOptionError);
}

TEST_F(StreamOptionsTest, StreamInfoOptsGivesOneDictionaryPerStream) {
  ASSERT_EQ(Options.opt_default("threads:a:0", "3"), 0);
  AVDictionary** opts = stream_info_opts(Context, Options.codec_opts());
  ASSERT_NE(opts, nullptr);
  EXPECT_EQ(opts[0], nullptr);
  EXPECT_EQ(Value(opts[1], "threads"), "3");
  EXPECT_EQ(opts[2], nullptr);
  for (unsigned i = 0; i < Context->nb_streams; ++i) av::av_dict_free(&opts[i]);
  av::av_freep(&opts);
}

}  // namespace
