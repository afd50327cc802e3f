// Argument parsing, failure reporting and the command table of qxdb.
#include "host/qxdb/cli.h"

#include <exception>
#include <iostream>

#include "access/adapter/status_texts.h"
#include "host/qxdb/commands.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::qxdb {

bool Invocation::Parse(const std::vector<std::string_view>& value_options,
                       const std::vector<std::string_view>& flags) {
  auto known = [](const std::vector<std::string_view>& list,
                  std::string_view name) {
    for (std::string_view k : list)
      if (k == name) return true;
    return false;
  };
  for (std::size_t i = 0; i < args_.size(); ++i) {
    const std::string& a = args_[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2);
      std::string value;
      std::size_t eq = name.find('=');
      bool has_value = eq != std::string::npos;
      if (has_value) {
        value = name.substr(eq + 1);
        name.resize(eq);
      }
      if (known(flags, name) && !has_value) {
        options_.emplace(name, "");
      } else if (known(value_options, name)) {
        if (!has_value) {
          if (i + 1 >= args_.size()) {
            Usage("option --" + name + " needs a value");
            return false;
          }
          value = args_[++i];
        }
        options_.emplace(name, value);
      } else {
        Usage("unknown option " + a);
        return false;
      }
    } else {
      positionals_.push_back(a);
    }
  }
  return true;
}

bool Invocation::Flag(std::string_view name) const {
  return options_.find(name) != options_.end();
}

std::optional<std::string> Invocation::Option(std::string_view name) const {
  auto it = options_.find(name);
  if (it == options_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Invocation::Options(std::string_view name) const {
  std::vector<std::string> values;
  auto [lo, hi] = options_.equal_range(name);
  for (auto it = lo; it != hi; ++it) values.push_back(it->second);
  return values;
}

int Invocation::Usage(std::string_view message) {
  err_ << "qxdb: " << message << "\n";
  return kExitUsage;
}

int Invocation::Fail(int status, std::string_view file,
                     std::string_view message) {
  err_ << "qxdb: " << file << ": " << message << "\n";
  return status;
}

int Invocation::EngineFailure(std::string_view file, int16_t status) {
  std::string text = StatusText(status);
  err_ << "qxdb: " << file << ": status " << status;
  if (!text.empty()) err_ << ": " << text;
  err_ << "\n";
  return kExitFailure;
}

int Invocation::LockFailure(std::string_view file, std::string_view what,
                            int16_t status) {
  if (status != kKbdErrLockViolation) return EngineFailure(file, status);
  err_ << "qxdb: " << file << ": " << what
       << " is locked by another process (status " << status << ": "
       << StatusText(status) << ")\n";
  return kExitFailure;
}

void Invocation::EngineWarning(std::string_view file, int16_t status) {
  err_ << "qxdb: " << file << ": warning " << status << ": "
       << StatusText(status) << "\n";
}

std::string StatusText(int16_t status) {
  return platform::Utf16ToUtf8(access::EngineStatusText(status));
}

std::string EnginePath(std::string_view utf8_path) {
  return platform::Utf16ToAnsi(platform::Utf8ToUtf16(utf8_path));
}

std::optional<int> ParseCodePage(std::optional<std::string> name) {
  if (!name || *name == "cp1252") return platform::kCodePageAnsi;
  if (*name == "cp850") return platform::kCodePageOem850;
  if (*name == "cp437") return platform::kCodePageOem437;
  if (*name == "utf8" || *name == "utf-8") return platform::kCodePageUtf8;
  return std::nullopt;
}

namespace {

constexpr const char* kUsage =
    "usage: qxdb [--sysdir DIR] COMMAND ARGS...\n"
    "  info FILE                          describe a .dbf, .dbt, .fpt or index "
    "file\n"
    "  dump TABLE.dbf [--deleted] [--codepage CP]\n"
    "  create TABLE.dbf --dialect D --field NAME:TYPE:LEN[:DEC[:FLAGS]]...\n"
    "        FLAGS (vfp): N nullable, B binary, A autoincrement\n"
    "  import TABLE.dbf [--codepage CP] [--no-sync] < records.jsonl\n"
    "  delete TABLE.dbf RECNO | recall TABLE.dbf RECNO\n"
    "  pack TABLE.dbf [--no-sync]\n"
    "  index TABLE.dbf INDEXFILE --expr EXPR [--tag NAME] [--unique] "
    "[--descending]\n"
    "        [--compact] [--for EXPR]\n"
    "  keys INDEXFILE [--tag NAME] [--table TABLE.dbf]\n"
    "  seek TABLE.dbf INDEXFILE [--tag NAME] [--soft] VALUE\n"
    "  check TABLE.dbf INDEXFILE [--tag NAME]\n"
    "  dump TABLE.dbf --index INDEXFILE [--tag NAME]\n"
    "  import TABLE.dbf --index FILE[:TAG]...\n"
    "through the component, as the host reads tables:\n"
    "  tables DIR [--full]\n"
    "  describe TABLE.dbf [--index FILE[:KEY]]...\n"
    "  read TABLE.dbf [--record N] [--index FILE[:KEY]]...\n"
    "  browse TABLE.dbf [--key ITEM] [--index FILE[:KEY]]... [--from V]\n"
    "         [--to V] [--reverse] [--filter ITEM=V|ITEM>V...] [--limit N]\n"
    "  find TABLE.dbf --key ITEM VALUE [--generic] [--index FILE[:KEY]]...\n"
    "  add TABLE.dbf [--index FILE[:KEY]]... [--json OBJECT]\n"
    "  modify|remove TABLE.dbf --record N [--index FILE[:KEY]]... [--json "
    "OBJECT]\n"
    "  lock TABLE.dbf (--record N | --table) [--index FILE[:KEY]]...\n"
    "  new TABLE.dbf --family F --item NAME:TYPE:LEN[:DEC][:KEY]...\n"
    "        F: dbase3 dbase4 foxbase clipper clipper5 foxpro2 vfp;\n"
    "        KEY: key, unique or descending\n"
    "  reindex TABLE.dbf [--pack] [--index FILE[:KEY]]...\n"
    "dialects: dbase3 dbase4 foxbase foxpro1 clipper clipper5 dbxl foxpro2\n"
    "          omnis vfp (or 1..10); code pages: cp1252 cp850 cp437 utf8\n"
    "index files: .ndx .mdx (tags) .ntx .idx (--compact: compact layout)\n"
    "             .cdx .dcx (tags)\n";

struct CommandEntry {
  const char* name;
  int (*run)(Invocation&);
};

constexpr CommandEntry kCommands[] = {
    {"info", CmdInfo},         {"dump", CmdDump},     {"create", CmdCreate},
    {"import", CmdImport},     {"delete", CmdDelete}, {"recall", CmdRecall},
    {"pack", CmdPack},         {"index", CmdIndex},   {"keys", CmdKeys},
    {"seek", CmdSeek},         {"check", CmdCheck},   {"tables", CmdTables},
    {"describe", CmdDescribe}, {"read", CmdRead},     {"browse", CmdBrowse},
    {"find", CmdFind},         {"add", CmdAdd},       {"modify", CmdModify},
    {"remove", CmdRemove},     {"lock", CmdLock},     {"new", CmdNew},
    {"reindex", CmdReindex},
};

// Keeps the engine started for one run.
class EngineSession {
 public:
  EngineSession() { kbdinit(32767, 4); }
  ~EngineSession() { kbdterm(); }
};

}  // namespace

int RunQxdb(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, std::istream& in) {
  try {
    std::size_t i = 0;
    if (i + 1 < args.size() && args[i] == "--sysdir") {
      platform::SetSystemDirectory(args[i + 1]);
      i += 2;
    }
    if (i >= args.size() || args[i] == "--help" || args[i] == "help") {
      (i >= args.size() ? err : out) << kUsage;
      return i >= args.size() ? kExitUsage : kExitOk;
    }
    for (const CommandEntry& c : kCommands) {
      if (args[i] != c.name) continue;
      Invocation inv(std::vector<std::string>(args.begin() + i + 1, args.end()),
                     out, err, in);
      EngineSession engine;
      return c.run(inv);
    }
    err << "qxdb: unknown command '" << args[i] << "'\n" << kUsage;
    return kExitUsage;
  } catch (const std::exception& e) {
    err << "qxdb: " << e.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace qx::qxdb
