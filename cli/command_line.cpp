#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>

#include "cli/run.h"

namespace vellum::cli {
namespace {

constexpr const char* kProgram = "vellum";
constexpr const char* kQuietHelp = "print results and errors only, no success texts";

std::vector<std::string> Words(const std::string& path) {
  std::vector<std::string> words;
  std::istringstream in(path);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The known words close enough to `word` to be what the user meant, best first.
std::vector<std::string> Suggestions(const std::string& word,
                                     const std::vector<std::string>& known) {
  std::vector<std::pair<std::size_t, std::string>> near;
  for (const auto& k : known) {
    const std::size_t d = EditDistance(word, k);
    const bool prefix = word.size() >= 3 && k.rfind(word, 0) == 0;
    if ((d <= 2 && d < word.size()) || prefix) near.emplace_back(prefix ? 0 : d, k);
  }
  std::stable_sort(near.begin(), near.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (const auto& [d, k] : near) out.push_back(k);
  return out;
}

std::string DidYouMean(const std::vector<std::string>& suggestions) {
  if (suggestions.empty()) return "";
  std::string text = "; did you mean ";
  for (std::size_t i = 0; i < suggestions.size() && i < 3; ++i)
    text += (i == 0 ? "" : " or ") + suggestions[i];
  return text + "?";
}

// CLI11's layout, with the usage line taken from the table: "vellum sign [OPTIONS] FILE".
class Formatter : public CLI::Formatter {
 public:
  void SetUsage(const CLI::App* app, std::string usage) { usage_[app] = std::move(usage); }
  std::string make_usage(const CLI::App* app, std::string name) const override {
    auto found = usage_.find(app);
    if (found == usage_.end()) return CLI::Formatter::make_usage(app, name);
    return "Usage: " + found->second + "\n";
  }

 private:
  std::map<const CLI::App*, std::string> usage_;
};

// One parse of one command line: the CLI11 tree built from the table, and what it found.
class CommandLine {
 public:
  explicit CommandLine(const std::vector<CommandEntry>& commands);
  int Run(std::vector<std::string> args, std::istream& in, std::ostream& out, std::ostream& err);

 private:
  struct Leaf {
    const CommandEntry* entry;
    CLI::App* app;
    CLI::Option* quiet;
    std::vector<std::string> operands;
  };

  CLI::App* AppFor(const std::vector<std::string>& words, const CommandEntry* entry);
  void AddLeaf(const CommandEntry& entry, CLI::App* sub);
  // The deepest command the parse entered ("vellum" itself when none).
  CLI::App* Deepest();
  std::string PathOf(const CLI::App* app) const;
  int UsageError(std::ostream& err, const CLI::App* where, const std::string& text);
  int ReportExtra(std::ostream& err);
  Options OptionsOf(const Leaf& leaf) const;

  std::shared_ptr<Formatter> formatter_ = std::make_shared<Formatter>();
  CLI::App app_{"Sign, verify, encrypt and pack files with the Vellum library.", kProgram};
  CLI::Option* version_ = nullptr;
  CLI::Option* quiet_ = nullptr;
  std::map<std::string, CLI::App*> groups_;  // "store" and its kind
  std::vector<std::unique_ptr<Leaf>> leaves_;
};

CommandLine::CommandLine(const std::vector<CommandEntry>& commands) {
  app_.formatter(formatter_);
  formatter_->SetUsage(&app_, std::string(kProgram) + " [OPTIONS] COMMAND [ARGS]...");
  app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app_.allow_extras();
  app_.set_help_flag("-h,--help", "show this help and exit");
  version_ = app_.add_flag("-V,--version")->description("show the version and exit");
  quiet_ = app_.add_flag("-q,--quiet")->description(kQuietHelp);
  app_.require_subcommand(0, 1);
  for (const auto& entry : commands) {
    CLI::App* sub = AppFor(Words(entry.path), &entry);
    if (entry.handler != nullptr) AddLeaf(entry, sub);
  }
  app_.footer("Run 'vellum COMMAND --help' for a command's options.");
}

// The subcommand for `words`, made on first use; a group ("store") gets its text from its own
// table row when there is one.
CLI::App* CommandLine::AppFor(const std::vector<std::string>& words, const CommandEntry* entry) {
  CLI::App* parent = &app_;
  std::string path;
  for (std::size_t i = 0; i < words.size(); ++i) {
    path += (path.empty() ? "" : " ") + words[i];
    auto found = groups_.find(path);
    if (found == groups_.end()) {
      const bool last = i + 1 == words.size();
      CLI::App* sub = parent->add_subcommand(words[i], last && entry ? entry->help : "");
      sub->group("Commands");
      sub->allow_extras();
      sub->require_subcommand(0, 1);
      formatter_->SetUsage(sub, std::string(kProgram) + " " + path + " COMMAND [OPTIONS]");
      found = groups_.emplace(path, sub).first;
    }
    parent = found->second;
  }
  return parent;
}

void CommandLine::AddLeaf(const CommandEntry& entry, CLI::App* sub) {
  auto leaf = std::make_unique<Leaf>();
  leaf->entry = &entry;
  leaf->app = sub;
  std::string usage = std::string(kProgram) + " " + entry.path + " [OPTIONS]";
  if (*entry.operands != '\0') {
    usage += std::string(" ") + entry.operands;
    // The operands are checked by the handler, which knows how many it takes; the usage line
    // names them, so the option list need not.
    sub->add_option("operands", leaf->operands)->group("");
  }
  formatter_->SetUsage(sub, usage);
  for (const auto& o : entry.options) {
    const std::string name = std::string("--") + o.name;
    if (o.value != nullptr)
      sub->add_option(name)->description(o.help)->type_name(o.value)->expected(1);
    else
      sub->add_flag(name)->description(o.help)->disable_flag_override();
  }
  leaf->quiet = sub->add_flag("-q,--quiet")->description(kQuietHelp);
  leaves_.push_back(std::move(leaf));
}

CLI::App* CommandLine::Deepest() {
  CLI::App* at = &app_;
  for (;;) {
    auto chosen = at->get_subcommands();
    if (chosen.empty()) return at;
    at = chosen.front();
  }
}

std::string CommandLine::PathOf(const CLI::App* app) const {
  std::string path;
  for (const CLI::App* a = app; a != nullptr && a != &app_; a = a->get_parent())
    path = a->get_name() + (path.empty() ? "" : " " + path);
  return path.empty() ? kProgram : std::string(kProgram) + " " + path;
}

int CommandLine::UsageError(std::ostream& err, const CLI::App* where, const std::string& text) {
  err << PathOf(where) << ": " << text << "\n"
      << "Run '" << PathOf(where) << " --help' for " << (where == &app_ ? "the commands" : "help")
      << ".\n";
  return kUsage;
}

// A word the parse could not place: an unknown option, command or operand, with suggestions.
int CommandLine::ReportExtra(std::ostream& err) {
  CLI::App* where = Deepest();
  const std::string word = app_.remaining(true).front();
  if (word.size() > 1 && word[0] == '-') {
    std::vector<std::string> known;
    for (const CLI::App* a = where; a != nullptr; a = a->get_parent())
      for (const CLI::Option* o : a->get_options())
        for (const auto& l : o->get_lnames()) known.push_back("--" + l);
    const std::string name = word.substr(0, word.find('='));
    return UsageError(err, where, "unknown option " + name + DidYouMean(Suggestions(name, known)));
  }
  std::vector<std::string> known;
  for (const CLI::App* s : where->get_subcommands({})) known.push_back(s->get_name());
  if (known.empty()) return UsageError(err, where, "unexpected operand '" + word + "'");
  std::string command = word;
  for (const CLI::App* a = where; a != &app_; a = a->get_parent())
    command = a->get_name() + " " + command;
  return UsageError(err, where,
                    "unknown command '" + command + "'" + DidYouMean(Suggestions(word, known)));
}

Options CommandLine::OptionsOf(const Leaf& leaf) const {
  Options options;
  for (const OptionSpec& entry : leaf.entry->options) {
    const CLI::Option* o = leaf.app->get_option(std::string("--") + entry.name);
    if (o->count() == 0) continue;
    if (entry.value == nullptr)
      options.AddFlag(entry.name);
    else
      for (const auto& value : o->results()) options.AddValue(entry.name, value);
  }
  return options;
}

int CommandLine::Run(std::vector<std::string> args, std::istream& in, std::ostream& out,
                     std::ostream& err) {
  // "vellum help [COMMAND...]" reads as "vellum [COMMAND...] --help".
  if (!args.empty() && args.front() == "help") {
    args.erase(args.begin());
    args.push_back("--help");
  }
  std::reverse(args.begin(), args.end());  // CLI11 takes the words last first
  try {
    app_.parse(args);
  } catch (const CLI::CallForHelp&) {
    out << app_.help();
    return kOk;
  } catch (const CLI::ParseError& e) {
    return UsageError(err, Deepest(), e.what());
  }
  if (version_->count() > 0) {
    out << VersionText() << "\n";
    return kOk;
  }
  if (!app_.remaining(true).empty()) return ReportExtra(err);
  for (const auto& leaf : leaves_) {
    if (!leaf->app->parsed()) continue;
    Context ctx{leaf->operands, OptionsOf(*leaf), in, out, err};
    ctx.quiet = quiet_->count() > 0 || leaf->quiet->count() > 0;
    const int code = leaf->entry->handler(ctx);
    if (code == kUsage)
      err << formatter_->make_usage(leaf->app, "") << "Run '" << PathOf(leaf->app)
          << " --help' for its options.\n";
    return code;
  }
  // No command, or a group without its command ("vellum store").
  CLI::App* where = Deepest();
  err << where->help();
  return kUsage;
}

}  // namespace

std::size_t EditDistance(const std::string& a, const std::string& b) {
  // Optimal string alignment: Levenshtein plus the swap of two neighbours.
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

int RunCommandLine(const std::vector<CommandEntry>& commands, const std::vector<std::string>& args,
                   std::istream& in, std::ostream& out, std::ostream& err) {
  CommandLine line(commands);
  return line.Run(args, in, out, err);
}

}  // namespace vellum::cli
