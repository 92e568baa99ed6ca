// Stemming quality of the default English resource set, measured on tables
// written here by hand (none of them comes from the word list or WordNet the
// set is built from). A form and its lemma agree when each one's query stem
// (the shortest stem) is among the index stems (all stems) of the other; a
// word without stems is its own stem.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/lookup.h"
#include "linguistics/zop/resource_set.h"

namespace vorlane {
namespace {

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";

struct Pair {
  const char* a;
  const char* b;
};

// Regular inflections of everyday and technical English, many of them words
// that a general word list lacks.
const Pair kRegular[] = {
    {"files", "file"}, {"directories", "directory"}, {"installed", "install"}, {"installing", "install"},
    {"running", "run"}, {"configured", "configure"}, {"configuring", "configure"}, {"queries", "query"},
    {"indexes", "index"}, {"indexed", "index"}, {"searches", "search"}, {"searched", "search"},
    {"documents", "document"}, {"documented", "document"}, {"users", "user"}, {"servers", "server"},
    {"numbers", "number"}, {"numbered", "number"}, {"buffers", "buffer"}, {"buffered", "buffer"},
    {"codes", "code"}, {"coded", "code"}, {"coding", "code"}, {"nodes", "node"}, {"sites", "site"},
    {"stages", "stage"}, {"staged", "stage"}, {"offers", "offer"}, {"offered", "offer"}, {"feeds", "feed"},
    {"triggers", "trigger"}, {"triggered", "trigger"}, {"stopped", "stop"}, {"stopping", "stop"},
    {"planned", "plan"}, {"planning", "plan"}, {"studies", "study"}, {"studied", "study"},
    {"tried", "try"}, {"tries", "try"}, {"copies", "copy"}, {"copied", "copy"}, {"boxes", "box"},
    {"matches", "match"}, {"matched", "match"}, {"classes", "class"}, {"passes", "pass"}, {"passed", "pass"},
    {"wishes", "wish"}, {"buses", "bus"}, {"heroes", "hero"}, {"potatoes", "potato"}, {"photos", "photo"},
    {"making", "make"}, {"taking", "take"}, {"writing", "write"}, {"using", "use"}, {"used", "use"},
    {"uses", "use"}, {"based", "base"}, {"changes", "change"}, {"changed", "change"}, {"changing", "change"},
    {"lines", "line"}, {"lists", "list"}, {"listed", "list"}, {"listing", "list"}, {"words", "word"},
    {"pages", "page"}, {"links", "link"}, {"linked", "link"}, {"tables", "table"}, {"values", "value"},
    {"returns", "return"}, {"returned", "return"}, {"calls", "call"}, {"called", "call"}, {"calling", "call"},
    {"objects", "object"}, {"processes", "process"}, {"processed", "process"}, {"instances", "instance"},
    {"modules", "module"}, {"functions", "function"}, {"methods", "method"}, {"variables", "variable"},
    {"strings", "string"}, {"characters", "character"}, {"options", "option"}, {"errors", "error"},
    {"messages", "message"}, {"systems", "system"}, {"programs", "program"}, {"programmed", "program"},
    {"licenses", "license"}, {"licensed", "license"}, {"copyrights", "copyright"}, {"rights", "right"},
    {"terms", "term"}, {"conditions", "condition"}, {"works", "work"}, {"worked", "work"}, {"working", "work"},
    {"distributed", "distribute"}, {"distributing", "distribute"}, {"modified", "modify"},
    {"modifies", "modify"}, {"modifying", "modify"}, {"requires", "require"}, {"required", "require"},
    {"contains", "contain"}, {"contained", "contain"}, {"applies", "apply"}, {"applied", "apply"},
    {"provides", "provide"}, {"provided", "provide"}, {"providing", "provide"}, {"includes", "include"},
    {"included", "include"}, {"including", "include"}, {"allows", "allow"}, {"allowed", "allow"},
    {"defines", "define"}, {"defined", "define"}, {"creates", "create"}, {"created", "create"},
    {"deletes", "delete"}, {"deleted", "delete"}, {"removes", "remove"}, {"removed", "remove"},
    {"opens", "open"}, {"opened", "open"}, {"closes", "close"}, {"closed", "close"}, {"reads", "read"},
    {"reading", "read"}, {"writes", "write"}, {"sends", "send"}, {"sending", "send"}, {"receives", "receive"},
    {"received", "receive"}, {"starts", "start"}, {"started", "start"}, {"ends", "end"}, {"ended", "end"},
    {"loads", "load"}, {"loaded", "load"}, {"saves", "save"}, {"saved", "save"}, {"sorted", "sort"},
    {"sorting", "sort"}, {"printed", "print"}, {"prints", "print"}, {"tested", "test"}, {"tests", "test"},
    {"testing", "test"}, {"builds", "build"}, {"building", "build"}, {"compiled", "compile"},
    {"compiles", "compile"}, {"executed", "execute"}, {"executes", "execute"}, {"imported", "import"},
    {"imports", "import"}, {"exported", "export"}, {"parsed", "parse"}, {"parses", "parse"},
    {"parsing", "parse"}, {"matches", "match"}, {"replaced", "replace"}, {"replacing", "replace"},
    {"handled", "handle"}, {"handles", "handle"}, {"handling", "handle"}, {"stored", "store"},
    {"stores", "store"}, {"storing", "store"}, {"dogs", "dog"}, {"cats", "cat"}, {"houses", "house"},
    {"cities", "city"}, {"countries", "country"}, {"babies", "baby"}, {"ladies", "lady"}, {"days", "day"},
    {"keys", "key"}, {"toys", "toy"}, {"plays", "play"}, {"played", "play"}, {"stayed", "stay"},
    {"walked", "walk"}, {"jumped", "jump"}, {"hoped", "hope"}, {"hoping", "hope"}, {"hopped", "hop"},
    {"dying", "die"}, {"lying", "lie"}, {"tying", "tie"}, {"agreed", "agree"}, {"agreeing", "agree"},
    {"seeing", "see"}, {"freed", "free"}, {"bigger", "big"}, {"biggest", "big"}, {"larger", "large"},
    {"largest", "large"}, {"happier", "happy"}, {"happiest", "happy"}, {"faster", "fast"},
    {"fastest", "fast"}, {"longer", "long"}, {"lower", "low"}, {"higher", "high"}, {"easier", "easy"},
    {"simpler", "simple"}, {"newer", "new"}, {"older", "old"}, {"smaller", "small"}, {"hotter", "hot"},
    // Words a general word list lacks.
    {"tuples", "tuple"}, {"subclasses", "subclass"}, {"keywords", "keyword"}, {"filenames", "filename"},
    {"callbacks", "callback"}, {"namespaces", "namespace"}, {"plugins", "plugin"},
    {"timestamps", "timestamp"}, {"datasets", "dataset"}, {"usernames", "username"},
    {"checkboxes", "checkbox"}, {"endpoints", "endpoint"}, {"workflows", "workflow"},
    {"hostnames", "hostname"}, {"iterators", "iterator"}, {"mutexes", "mutex"}, {"bitmaps", "bitmap"},
    {"codecs", "codec"}, {"widgets", "widget"}, {"subdirectories", "subdirectory"}, {"unicode", "unicode"},
    {"refactored", "refactor"}, {"debugged", "debug"}, {"debugging", "debug"}, {"downloaded", "download"},
    {"downloads", "download"}, {"uploaded", "upload"}, {"logged", "log"}, {"logging", "log"},
    {"emailed", "email"}, {"bookmarks", "bookmark"}, {"toolbars", "toolbar"}, {"screenshots", "screenshot"},
    {"chatbots", "chatbot"}, {"smartphones", "smartphone"}, {"websites", "website"}, {"webpages", "webpage"},
    {"blogs", "blog"}, {"blogging", "blog"}, {"tweets", "tweet"}, {"emojis", "emoji"}, {"apps", "app"},
};

// Inflected forms of words that neither the word list nor WordNet holds
// (written here from technical English), so that only the regular endings
// can relate them to their lemmas.
const Pair kOutOfList[] = {
    {"tuples", "tuple"}, {"namespaces", "namespace"}, {"refactored", "refactor"}, {"refactoring", "refactor"},
    {"unpickling", "unpickle"}, {"unpickled", "unpickle"}, {"mutexes", "mutex"}, {"hostnames", "hostname"},
    {"datasets", "dataset"}, {"checkboxes", "checkbox"}, {"codecs", "codec"}, {"chatbots", "chatbot"},
    {"deserialized", "deserialize"}, {"tokenized", "tokenize"}, {"tokenizing", "tokenize"},
    {"iterables", "iterable"}, {"dataframes", "dataframe"}, {"subprocesses", "subprocess"},
    {"submodules", "submodule"}, {"metaclasses", "metaclass"}, {"preprocessed", "preprocess"},
    {"preprocessing", "preprocess"}, {"precompiled", "precompile"}, {"autogenerated", "autogenerate"},
    {"untarred", "untar"}, {"gzipped", "gzip"}, {"rebased", "rebase"}, {"rebasing", "rebase"},
    {"upvoted", "upvote"}, {"downvoted", "downvote"}, {"livestreams", "livestream"}, {"geotagged", "geotag"},
    {"backported", "backport"}, {"backporting", "backport"}, {"hotfixes", "hotfix"}, {"changelogs", "changelog"},
    {"typedefs", "typedef"}, {"structs", "struct"}, {"enums", "enum"}, {"getters", "getter"}, {"mixins", "mixin"},
    {"microservices", "microservice"}, {"dockerized", "dockerize"}, {"scrollbars", "scrollbar"},
    {"tooltips", "tooltip"}, {"dropdowns", "dropdown"}, {"passphrases", "passphrase"}, {"unmounted", "unmount"},
    {"symlinks", "symlink"}, {"symlinked", "symlink"}, {"hardcoded", "hardcode"}, {"hardcoding", "hardcode"},
    {"prefetched", "prefetch"}, {"prefetching", "prefetch"}, {"memoized", "memoize"}, {"memoizing", "memoize"},
    {"autosaved", "autosave"}, {"unmarshaled", "unmarshal"}, {"deduplicated", "deduplicate"},
    {"deduplicating", "deduplicate"}, {"namespaced", "namespace"}, {"whitelisted", "whitelist"},
    {"vectorized", "vectorize"}, {"runtimes", "runtime"}, {"filesystems", "filesystem"},
    {"mountpoints", "mountpoint"}, {"localhosts", "localhost"}, {"unittests", "unittest"},
    {"testcases", "testcase"}, {"docstrings", "docstring"}, {"linters", "linter"}, {"transpiled", "transpile"},
    {"transpiling", "transpile"}, {"polyfills", "polyfill"}, {"webhooks", "webhook"},
};

// Irregular forms of every part of speech.
const Pair kIrregular[] = {
    {"arose", "arise"}, {"awoke", "awake"}, {"was", "be"}, {"were", "be"}, {"is", "be"}, {"am", "be"},
    {"are", "be"}, {"been", "be"}, {"has", "have"}, {"had", "have"}, {"does", "do"}, {"did", "do"},
    {"done", "do"}, {"became", "become"}, {"began", "begin"}, {"begun", "begin"}, {"bent", "bend"},
    {"bit", "bite"}, {"bitten", "bite"}, {"bled", "bleed"}, {"blew", "blow"}, {"blown", "blow"},
    {"broke", "break"}, {"broken", "break"}, {"bred", "breed"}, {"brought", "bring"}, {"built", "build"},
    {"bought", "buy"}, {"caught", "catch"}, {"chose", "choose"}, {"chosen", "choose"}, {"came", "come"},
    {"crept", "creep"}, {"dealt", "deal"}, {"dug", "dig"}, {"drew", "draw"}, {"drawn", "draw"},
    {"drank", "drink"}, {"drunk", "drink"}, {"drove", "drive"}, {"driven", "drive"}, {"ate", "eat"},
    {"eaten", "eat"}, {"fell", "fall"}, {"fallen", "fall"}, {"fed", "feed"}, {"felt", "feel"},
    {"fought", "fight"}, {"found", "find"}, {"fled", "flee"}, {"flew", "fly"}, {"flown", "fly"},
    {"forbade", "forbid"}, {"forgot", "forget"}, {"forgotten", "forget"}, {"forgave", "forgive"},
    {"froze", "freeze"}, {"frozen", "freeze"}, {"got", "get"}, {"gave", "give"}, {"given", "give"},
    {"went", "go"}, {"gone", "go"}, {"grew", "grow"}, {"grown", "grow"}, {"heard", "hear"}, {"hid", "hide"},
    {"hidden", "hide"}, {"held", "hold"}, {"kept", "keep"}, {"knelt", "kneel"}, {"knew", "know"},
    {"known", "know"}, {"led", "lead"}, {"lent", "lend"}, {"lost", "lose"}, {"made", "make"},
    {"meant", "mean"}, {"met", "meet"}, {"paid", "pay"}, {"ran", "run"}, {"rang", "ring"}, {"rose", "rise"},
    {"risen", "rise"}, {"rode", "ride"}, {"ridden", "ride"}, {"said", "say"}, {"saw", "see"},
    {"seen", "see"}, {"sought", "seek"}, {"sold", "sell"}, {"sent", "send"}, {"shook", "shake"},
    {"shaken", "shake"}, {"shot", "shoot"}, {"shown", "show"}, {"shrank", "shrink"}, {"sang", "sing"},
    {"sung", "sing"}, {"sank", "sink"}, {"sat", "sit"}, {"slept", "sleep"}, {"slid", "slide"},
    {"spoke", "speak"}, {"spoken", "speak"}, {"spent", "spend"}, {"spun", "spin"}, {"stood", "stand"},
    {"stole", "steal"}, {"stolen", "steal"}, {"stuck", "stick"}, {"stung", "sting"}, {"struck", "strike"},
    {"swore", "swear"}, {"sworn", "swear"}, {"swept", "sweep"}, {"swam", "swim"}, {"swum", "swim"},
    {"swung", "swing"}, {"took", "take"}, {"taken", "take"}, {"taught", "teach"}, {"tore", "tear"},
    {"torn", "tear"}, {"told", "tell"}, {"thought", "think"}, {"threw", "throw"}, {"thrown", "throw"},
    {"understood", "understand"}, {"woke", "wake"}, {"woken", "wake"}, {"wore", "wear"}, {"worn", "wear"},
    {"wept", "weep"}, {"won", "win"}, {"wrote", "write"}, {"written", "write"}, {"withdrew", "withdraw"},
    {"men", "man"}, {"women", "woman"}, {"children", "child"}, {"feet", "foot"}, {"teeth", "tooth"},
    {"geese", "goose"}, {"mice", "mouse"}, {"lice", "louse"}, {"oxen", "ox"}, {"people", "person"},
    {"knives", "knife"}, {"wives", "wife"}, {"halves", "half"}, {"wolves", "wolf"}, {"shelves", "shelf"},
    {"thieves", "thief"}, {"loaves", "loaf"}, {"calves", "calf"}, {"criteria", "criterion"},
    {"phenomena", "phenomenon"}, {"theses", "thesis"}, {"crises", "crisis"}, {"indices", "index"},
    {"matrices", "matrix"}, {"vertices", "vertex"}, {"appendices", "appendix"}, {"cacti", "cactus"},
    {"fungi", "fungus"}, {"nuclei", "nucleus"}, {"radii", "radius"}, {"stimuli", "stimulus"},
    {"alumni", "alumnus"}, {"curricula", "curriculum"}, {"bacteria", "bacterium"}, {"formulae", "formula"},
    {"better", "good"}, {"best", "good"}, {"worse", "bad"}, {"worst", "bad"}, {"farther", "far"},
};

// Unrelated words that share their first five letters.
const Pair kUnrelated[] = {
    {"content", "contest"}, {"contract", "contrast"}, {"present", "preserve"}, {"general", "generous"},
    {"partial", "particle"}, {"concert", "concern"}, {"compose", "compost"}, {"corner", "cornet"},
    {"decade", "decadent"}, {"planet", "plane"}, {"sever", "several"}, {"carrot", "carrousel"},
    {"cartoon", "carton"}, {"compass", "compassion"}, {"stranger", "strand"}, {"bullet", "bulletin"},
    {"ration", "rational"}, {"plate", "plateau"}, {"dilate", "dilatory"}, {"desert", "deserve"},
    {"comma", "command"}, {"compact", "company"}, {"contain", "contaminate"}, {"convert", "convey"},
    {"discus", "discuss"}, {"stamp", "stampede"}, {"number", "numbed"}, {"buffer", "buffet"},
    {"marine", "marinate"}, {"grave", "gravel"}, {"reside", "residue"}, {"cartel", "carter"},
    {"pollen", "polled"}, {"liquor", "liquorice"}, {"stern", "sternum"}, {"corps", "corpse"},
    {"singe", "singer"}, {"forest", "foresee"}, {"forge", "forget"}, {"badge", "badger"},
    {"ledge", "ledger"}, {"toile", "toilet"}, {"cricket", "crick"}, {"carpet", "carpenter"},
    {"media", "median"}, {"scallion", "scallop"}, {"shilling", "shill"}, {"parse", "parsec"},
    {"pension", "pensive"}, {"revere", "reverse"}, {"treat", "treaty"}, {"vestige", "vestibule"},
    {"villain", "village"}, {"whisk", "whiskey"}, {"later", "lateral"}, {"mortal", "mortar"},
    {"basin", "basing"}, {"deter", "determine"}, {"inter", "interest"}, {"stall", "stallion"},
    {"plain", "plaintiff"}, {"plant", "plantain"}, {"cancel", "cancer"}, {"orange", "orangutan"},
    {"pillow", "pillory"}, {"rampant", "rampart"}, {"offers", "offertory"}, {"trigger", "triggerfish"},
    {"liver", "livery"}, {"hearth", "heart"}, {"stages", "stagecoach"}, {"cater", "caterpillar"},
};

class EnglishStemQualityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kEnglish + ".hmm")) GTEST_SKIP() << "no default English resource set";
    ASSERT_EQ(zop_lang_init(&handle_, kEnglish.c_str()), 1);
  }
  std::vector<std::string> lookup(const std::string& word, int32_t mode) {
    char out[4096];
    const int32_t n = fst_lookup(word.c_str(), kFstWholeWord, out, sizeof out, mode, handle_.stemmer, nullptr, 0);
    std::vector<std::string> result;
    const char* p = out;
    for (int32_t i = 0; i < n; ++i, p += std::strlen(p) + 1) result.emplace_back(p);
    if (result.empty()) result.push_back(word);
    return result;
  }
  std::string query_stem(const std::string& word) { return lookup(word, 7).front(); }
  std::set<std::string> index_stems(const std::string& word) {
    const auto all = lookup(word, 3);
    return {all.begin(), all.end()};
  }
  bool agree(const std::string& a, const std::string& b) {
    return index_stems(b).count(query_stem(a)) && index_stems(a).count(query_stem(b));
  }
  bool merged(const std::string& a, const std::string& b) {
    return index_stems(b).count(query_stem(a)) || index_stems(a).count(query_stem(b));
  }
  zop_handle handle_;
};

TEST_F(EnglishStemQualityTest, FormsAndLemmasAgreeBothWays) {
  int good = 0, total = 0;
  std::string missed;
  for (const Pair& p : kRegular) {
    ++total;
    if (agree(p.a, p.b)) {
      ++good;
    } else {
      missed += std::string(" ") + p.a + "/" + p.b + "(" + query_stem(p.a) + ")";
    }
  }
  for (const Pair& p : kIrregular) {
    ++total;
    if (agree(p.a, p.b)) ++good;
  }
  int outside = 0;
  for (const Pair& p : kOutOfList) {
    ++total;
    if (agree(p.a, p.b)) {
      ++good;
      ++outside;
    } else {
      missed += std::string(" ") + p.a + "/" + p.b + "(" + query_stem(p.a) + ")";
    }
  }
  const double rate = 100.0 * good / total;
  const double outside_rate = 100.0 * outside / static_cast<double>(std::size(kOutOfList));
  RecordProperty("agreement", std::to_string(rate));
  std::printf("both-ways agreement %.1f%% of %d pairs, %.1f%% of %zu outside the word list; missed:%s\n", rate, total,
              outside_rate, std::size(kOutOfList), missed.c_str());
  EXPECT_GE(std::size(kOutOfList), 60u);
  EXPECT_GE(rate, 93.0);
  EXPECT_GE(outside_rate, 93.0);
}

TEST_F(EnglishStemQualityTest, IrregularFormsInQueryMode) {
  int good = 0, total = 0;
  std::string missed;
  for (const Pair& p : kIrregular) {
    ++total;
    const std::string s = query_stem(p.a);
    if (s == p.b) {
      ++good;
    } else {
      missed += std::string(" ") + p.a + "->" + s;
    }
  }
  const double rate = 100.0 * good / total;
  std::printf("irregular forms %.1f%% of %d; missed:%s\n", rate, total, missed.c_str());
  EXPECT_GE(total, 100);
  EXPECT_GE(rate, 95.0);
}

TEST_F(EnglishStemQualityTest, UnrelatedWordsStayApart) {
  int bad = 0, total = 0;
  std::string merges;
  for (const Pair& p : kUnrelated) {
    ASSERT_EQ(std::string(p.a).substr(0, 5), std::string(p.b).substr(0, 5)) << p.a;
    ++total;
    if (merged(p.a, p.b)) {
      ++bad;
      merges += std::string(" ") + p.a + "/" + p.b;
    }
  }
  const double rate = 100.0 * bad / total;
  std::printf("unrelated merges %.1f%% of %d:%s\n", rate, total, merges.c_str());
  EXPECT_LE(rate, 7.0);
}

TEST_F(EnglishStemQualityTest, QueryStems) {
  struct Case {
    const char* word;
    const char* stem;
  };
  const Case cases[] = {
      {"tuples", "tuple"},        {"iterators", "iterator"},  {"refactored", "refactor"},
      {"unpickling", "unpickle"}, {"subclassed", "subclass"}, {"namespaces", "namespace"},
      {"subclasses", "subclass"}, {"keywords", "keyword"}, {"filenames", "filename"},
      {"callbacks", "callback"}, {"number", "number"}, {"buffer", "buffer"}, {"codes", "code"},
      {"nodes", "node"}, {"installed", "install"}, {"offer", "offer"}, {"feed", "feed"},
      {"trigger", "trigger"}, {"sites", "site"}, {"stages", "stage"}, {"was", "be"}, {"has", "have"},
      {"better", "good"}, {"kept", "keep"}, {"held", "hold"}, {"spoke", "speak"}, {"mice", "mouse"},
      {"lower", "low"}, {"running", "run"},
  };
  for (const Case& c : cases) EXPECT_EQ(query_stem(c.word), c.stem) << c.word;
}

}  // namespace
}  // namespace vorlane
