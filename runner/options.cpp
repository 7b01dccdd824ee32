#include "runner/options.hpp"

#include <charconv>

namespace tovik::runner {

void OptionParser::add(OptionDecl entry) {
  for (const auto& flag : entry.flags)
    if (find(flag)) throw UsageError("option " + flag + " is declared twice");
  options_.push_back(std::move(entry));
}

const OptionDecl* OptionParser::find(std::string_view flag) const {
  for (const auto& o : options_)
    for (const auto& f : o.flags)
      if (f == flag) return &o;
  return nullptr;
}

namespace {

Value convert(const OptionDecl& o, const std::string& flag, const std::string& text) {
  if (o.type == OptionDecl::Type::Text) return Value(text);
  long long n = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), n);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size())
    throw UsageError("选项 " + flag + " 的值应为整数，实际为 '" + text + "'");
  return Value(n);
}

void store(Dict& values, const OptionDecl& o, const std::string& flag, const std::string* text) {
  switch (o.action) {
    case OptionDecl::Action::Store: values.set(o.dest, convert(o, flag, *text)); break;
    case OptionDecl::Action::Append: {
      Value& v = values[o.dest];
      if (!v.is_list()) v = Value(List{});
      v.as_list().push_back(convert(o, flag, *text));
      break;
    }
    case OptionDecl::Action::StoreTrue: values.set(o.dest, Value(true)); break;
    case OptionDecl::Action::Count: {
      Value& v = values[o.dest];
      v = Value(static_cast<long long>(v.is_int() ? v.as_int() + 1 : 1));
      break;
    }
  }
}

bool takes_value(const OptionDecl& o) {
  return o.action == OptionDecl::Action::Store || o.action == OptionDecl::Action::Append;
}

}  // namespace

OptionParser::Parsed OptionParser::parse(const std::vector<std::string>& args) const {
  Parsed out;
  for (const auto& o : options_)
    if (!out.values.contains(o.dest)) out.values.set(o.dest, o.default_value);

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      out.paths.insert(out.paths.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      out.paths.push_back(arg);
      continue;
    }
    if (arg[1] == '-') {  // --long or --long=value
      const auto eq = arg.find('=');
      const std::string flag = arg.substr(0, eq);
      const OptionDecl* o = find(flag);
      if (!o) throw UsageError("未知的选项: " + arg);
      if (!takes_value(*o)) {
        if (eq != std::string::npos) throw UsageError("选项 " + flag + " 不接受值，却给出了 '" + arg.substr(eq + 1) + "'");
        store(out.values, *o, flag, nullptr);
        continue;
      }
      std::string value;
      if (eq != std::string::npos) value = arg.substr(eq + 1);
      else if (i + 1 < args.size()) value = args[++i];
      else throw UsageError("选项 " + flag + " 需要一个值");
      store(out.values, *o, flag, &value);
      continue;
    }
    // short flags, possibly combined: -vx, -k expr, -kexpr
    for (std::size_t j = 1; j < arg.size(); ++j) {
      const std::string flag = std::string("-") + arg[j];
      const OptionDecl* o = find(flag);
      if (!o) throw UsageError("未知的选项: " + arg);
      if (!takes_value(*o)) {
        store(out.values, *o, flag, nullptr);
        continue;
      }
      std::string value;
      if (j + 1 < arg.size()) value = arg.substr(j + 1);
      else if (i + 1 < args.size()) value = args[++i];
      else throw UsageError("选项 " + flag + " 需要一个值");
      store(out.values, *o, flag, &value);
      break;
    }
  }
  return out;
}

std::string OptionParser::help() const {
  std::string out;
  for (const auto& o : options_) {
    if (o.hidden) continue;
    std::string names;
    for (const auto& f : o.flags) {
      if (!names.empty()) names += ", ";
      names += f;
      if (takes_value(o)) names += (f.size() > 2 ? "=" : " ") + (o.metavar.empty() ? std::string("VALUE") : o.metavar);
    }
    out += "  " + names;
    if (names.size() < 30) out.append(30 - names.size(), ' ');
    else out += "\n" + std::string(32, ' ');
    out += o.help + "\n";
  }
  return out;
}

}  // namespace tovik::runner
