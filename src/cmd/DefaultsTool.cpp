#include "cmd/DefaultsTool.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <cmath>
#include <ctime>
#include <optional>
#include <ostream>

#include "units/prefs/OldStylePlistText.h"
#include "units/prefs/PropertyListIO.h"
#include "units/text/DateUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {

namespace {

constexpr const char* kUsage =
    "Usage: vantorel-defaults COMMAND\n"
    "Reads and writes Vantorel's preferences (domain com.quellmark.vantorel).\n"
    "\n"
    "Commands:\n"
    "  read                     print every preference\n"
    "  read /PATH/FILE.plist [KEY]\n"
    "                           print any property-list file (the history,\n"
    "                           the help list) or one key of it, read only\n"
    "  read KEY                 print one preference: booleans as 1/0, numbers in\n"
    "                           decimal, strings as they are, dates as\n"
    "                           \"YYYY-MM-DD HH:MM:SS +0000\", arrays and dictionaries\n"
    "                           in old-style property-list text\n"
    "  write KEY VALUE          store VALUE as a string\n"
    "  write KEY -string S      store a string\n"
    "  write KEY -bool YES|NO   store a boolean (also true/false, 1/0)\n"
    "  write KEY -int N         store an integer\n"
    "  write KEY -float F       store a real number\n"
    "  write KEY -date \"YYYY-MM-DD HH:MM:SS +ZZZZ\"\n"
    "                           store a date (the zone may be left out for UTC)\n"
    "  write KEY -data HEX      store bytes given in hexadecimal\n"
    "  write KEY -array A B ... store an array of strings\n"
    "  write KEY -dict K V ...  store a dictionary of strings\n"
    "  delete KEY               remove a preference\n"
    "  delete                   remove every preference (a running Vantorel\n"
    "                           starts afresh, as on its first launch)\n"
    "  --help                   show this text\n"
    "\n"
    "The domain name may be given after the command, as in\n"
    "'vantorel-defaults read com.quellmark.vantorel KEY'.\n"
    "\n"
    "The preferences live in $XDG_CONFIG_HOME/vantorel/com.quellmark.vantorel.plist\n"
    "(~/.config when XDG_CONFIG_HOME is not set). A running Vantorel notices changes.\n"
    "'read' never changes the file: a damaged file is reported and left as it is\n"
    "(a write keeps it aside as ....plist.corrupt).\n"
    "\n"
    "Exit status: 0 done, 1 no such key or the change could not be saved,\n"
    "2 the command was not understood.\n";

std::optional<bool> ParseBool(const std::string& text) {
  for (const char* yes : {"YES", "true", "1"})
    if (strcasecmp(text.c_str(), yes) == 0) return true;
  for (const char* no : {"NO", "false", "0"})
    if (strcasecmp(text.c_str(), no) == 0) return false;
  return std::nullopt;
}

template <typename Number>
std::optional<Number> ParseWhole(const std::string& text) {
  std::string_view t = text;
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  Number value{};
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

std::optional<PlistValue::Data> ParseHex(const std::string& text) {
  PlistValue::Data bytes;
  int pending = -1;
  for (const char c : text) {
    if (c == ' ' || c == '<' || c == '>') continue;
    int nibble;
    if (c >= '0' && c <= '9')
      nibble = c - '0';
    else if (c >= 'a' && c <= 'f')
      nibble = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      nibble = c - 'A' + 10;
    else
      return std::nullopt;
    if (pending < 0) {
      pending = nibble;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(pending * 16 + nibble));
      pending = -1;
    }
  }
  if (pending >= 0) return std::nullopt;
  return bytes;
}

// The text `read KEY` prints for one value.
std::string ReadText(const PlistValue& value) {
  if (const auto* s = value.AsString()) return *s;
  if (const auto* d = value.AsDate()) return FormatDateUtc(d->time);
  return FormatOldStylePlist(value);
}

class Tool {
public:
  Tool(const std::string& filePath, std::ostream& out, std::ostream& err) : path_(filePath), out_(out), err_(err) {}

  int Usage(const std::string& problem) {
    err_ << "vantorel-defaults: " << problem << "\nTry 'vantorel-defaults --help'.\n";
    return 2;
  }

  int Read(const std::vector<std::string>& args) {
    if (args.size() > 1) return Usage("'read' takes at most one key");
    // Only reads: a damaged file is left for a writer to set aside.
    TUserDefaults prefs(path_, nullptr, TUserDefaults::Access::ReadOnly);
    if (const auto problem = prefs.FileProblem()) {
      err_ << "vantorel-defaults: cannot read the preferences: " << *problem << "\n";
      return 1;
    }
    if (args.empty()) {
      if (!doesFileExist(path_)) {
        err_ << "vantorel-defaults: the domain " << TUserDefaults::kDomainName << " has no preferences yet (no file at "
             << path_ << ")\n";
        return 1;
      }
      out_ << FormatOldStylePlist(PlistValue(prefs.DictionaryRepresentation())) << "\n";
      return 0;
    }
    const auto value = prefs.ObjectForKey(args[0]);
    if (!value) return Missing(args[0]);
    out_ << ReadText(*value) << "\n";
    return 0;
  }

  // `read /path/file.plist [KEY]`: a file of any kind, never changed.
  int ReadFile(const std::string& file, const std::vector<std::string>& keys) {
    if (keys.size() > 1) return Usage("'read' takes at most one key after the file");
    const PlistReadResult read = ReadPropertyListFile(file);
    if (read.status != PlistReadResult::Status::Ok) {
      err_ << "vantorel-defaults: cannot read " << file << ": "
           << (read.status == PlistReadResult::Status::Missing ? "there is no such file" : read.error) << "\n";
      return 1;
    }
    if (keys.empty()) {
      out_ << FormatOldStylePlist(read.value) << "\n";
      return 0;
    }
    const auto* dictionary = read.value.AsDictionary();
    const auto found = dictionary ? dictionary->find(keys[0]) : PlistValue::Dictionary::const_iterator{};
    if (!dictionary || found == dictionary->end()) {
      err_ << "vantorel-defaults: no key \"" << keys[0] << "\" in " << file << "\n";
      return 1;
    }
    out_ << ReadText(found->second) << "\n";
    return 0;
  }

  int Write(const std::vector<std::string>& args) {
    if (args.size() < 2) return Usage("'write' needs a key and a value");
    const std::string& key = args[0];
    const std::string& kind = args[1];
    const std::vector<std::string> rest(args.begin() + 2, args.end());
    std::optional<PlistValue> value;

    static const char* const kTypeFlags[] = {"-string", "-bool", "-boolean", "-int", "-integer", "-float",
                                             "-date", "-data", "-array", "-array-add", "-dict"};
    const bool typed = std::find(std::begin(kTypeFlags), std::end(kTypeFlags), kind) != std::end(kTypeFlags);
    if (!typed && kind.size() > 1 && kind[0] == '-' && args.size() > 2) return Usage("unknown value type '" + kind + "'");
    if (!typed) {
      if (args.size() != 2) return Usage("a plain value must be a single argument; quote it");
      value = PlistValue(kind);
    } else if (kind == "-array" || kind == "-array-add") {
      if (kind == "-array-add") return Usage("'-array-add' is not supported; write the whole array");
      value = PlistValue(PlistValue::Array(rest.begin(), rest.end()));
    } else if (kind == "-dict") {
      if (rest.size() % 2 != 0) return Usage("'-dict' needs keys and values in pairs");
      PlistValue::Dictionary dict;
      for (std::size_t i = 0; i < rest.size(); i += 2) dict.insert_or_assign(rest[i], PlistValue(rest[i + 1]));
      value = PlistValue(std::move(dict));
    } else {
      if (rest.size() != 1) return Usage("'" + kind + "' takes exactly one value");
      const std::string& text = rest[0];
      if (kind == "-string") {
        value = PlistValue(text);
      } else if (kind == "-bool" || kind == "-boolean") {
        const auto b = ParseBool(text);
        if (!b) return Usage("not a boolean: '" + text + "' (use YES or NO)");
        value = PlistValue(*b);
      } else if (kind == "-int" || kind == "-integer") {
        const auto i = ParseWhole<std::int64_t>(text);
        if (!i) return Usage("not an integer: '" + text + "'");
        value = PlistValue(*i);
      } else if (kind == "-float") {
        const auto r = ParseWhole<double>(text);
        if (!r || !std::isfinite(*r)) return Usage("not a number: '" + text + "'");
        value = PlistValue(*r);
      } else if (kind == "-date") {
        const auto d = parseDateStamp(text, false);
        if (!d) return Usage("not a date: '" + text + "' (use \"YYYY-MM-DD HH:MM:SS +ZZZZ\")");
        value = PlistValue(PlistValue::Date{*d});
      } else {  // -data
        const auto d = ParseHex(text);
        if (!d) return Usage("not hexadecimal data: '" + text + "'");
        value = PlistValue(std::move(*d));
      }
    }
    TUserDefaults prefs(path_);
    // A refused save has been told, with its reason, by the store itself.
    return prefs.SetObject(key, std::move(*value)) ? 0 : 1;
  }

  int Delete(const std::vector<std::string>& args) {
    if (args.size() > 1) return Usage("'delete' takes at most one key");
    if (args.empty()) {
      if (!doesFileExist(path_)) {
        err_ << "vantorel-defaults: the domain " << TUserDefaults::kDomainName << " has no preferences (no file at "
             << path_ << ")\n";
        return 1;
      }
      return TUserDefaults(path_).RemoveAll() ? 0 : 1;
    }
    TUserDefaults prefs(path_);
    if (!prefs.HasKey(args[0])) return Missing(args[0]);
    return prefs.Remove(args[0]) ? 0 : 1;
  }

private:
  int Missing(const std::string& key) {
    err_ << "vantorel-defaults: no preference \"" << key << "\" in " << TUserDefaults::kDomainName << "\n";
    return 1;
  }

  const std::string& path_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int RunDefaultsTool(const std::vector<std::string>& args, const std::string& filePath, std::ostream& out,
                    std::ostream& err) {
  Tool tool(filePath, out, err);
  if (args.empty()) return tool.Usage("no command given");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    out << kUsage;
    return 0;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (!rest.empty() && rest.front() == TUserDefaults::kDomainName) rest.erase(rest.begin());
  if (command == "read" && !rest.empty() && rest.front().rfind('/', 0) == 0)
    return tool.ReadFile(rest.front(), std::vector<std::string>(rest.begin() + 1, rest.end()));
  if (command == "read") return tool.Read(rest);
  if (command == "write") return tool.Write(rest);
  if (command == "delete") return tool.Delete(rest);
  return tool.Usage("unknown command '" + command + "'");
}

}  // namespace vantorel
