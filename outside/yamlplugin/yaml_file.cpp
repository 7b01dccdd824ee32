#include "outside/yamlplugin/yaml_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>


#include "support/base/atomic_file.hpp"
#include "support/base/errors.hpp"
#include "support/base/value_yaml.hpp"

namespace tovik::yamlplugin {

namespace fs = std::filesystem;

YamlFile::YamlFile(fs::path path) : path_(std::move(path)) {
  std::error_code ec;
  if (!fs::exists(path_, ec)) return;
  std::ifstream in(path_, std::ios::binary);
  if (!in) throw OSError("变量文件 " + path_.string() + " 无法读取: " + std::strerror(errno));
  std::stringstream buf;
  buf << in.rdbuf();
  Value parsed;
  try {
    parsed = parse_yaml(buf.str());
  } catch (const ValueError& e) {
    throw ValueError("变量文件 " + path_.string() + " 不是有效的 YAML: " + e.what());
  }
  if (parsed.is_none()) return;  // an empty file
  if (!parsed.is_dict())
    throw ValueError("变量文件 " + path_.string() + " 的内容应为字典（变量名到值的映射），实际为 " + parsed.type_name());
  data_ = std::move(parsed.as_dict());
}

void YamlFile::save() const {
  const std::string text = data_.empty() ? std::string("{}\n") : dump_yaml(Value(data_));
  if (const int error = replace_file(path_, text, true))
    throw OSError("变量文件 " + path_.string() + " 无法写入: " + std::strerror(error));
}

}  // namespace tovik::yamlplugin
