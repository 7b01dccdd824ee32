#include "runner/plugins/yaml_schema.hpp"

#include <map>
#include <set>

#include "keywords/class_by_type.hpp"
#include "runner/plugins/keyword_call.hpp"
#include "runner/plugins/yaml_case.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_json.hpp"

namespace tovik::runner {

namespace {

Json described(Json schema, const char* description) {
  schema["description"] = description;
  return schema;
}

const Json kText = Json{{"type", "string"}};
const Json kWords = Json{{"anyOf", Json::array({kText, {{"type", "array"}, {"items", kText}}})}};
const Json kMapping = Json{{"type", "object"}};

// An object of exactly these keys, each with its schema; a key without one is a mistake here.
Json object_of(const std::vector<std::string>& keys, const std::map<std::string, Json>& schemas) {
  Json properties = Json::object();
  for (const std::string& k : keys) {
    const auto it = schemas.find(k);
    if (it == schemas.end()) throw ValueError("no schema for the YAML key " + k);
    properties[k] = it->second;
  }
  return {{"type", "object"}, {"properties", properties}, {"additionalProperties", false}};
}

std::string param_text(const Param& p) {
  std::string out = p.name + "（" + param_kind_text(p.kind) + "）";
  if (p.default_value) out += "，默认 " + repr(*p.default_value);
  else if (!p.default_fn) out += "，必填";
  return out;
}

// keyword: one of every class's names; args: as many as it requires, each described.
Json keyword_rules(std::vector<std::string>& names) {
  Json rules = Json::array();
  std::set<std::string> seen;
  for (const char* kind : {"web", "app", "api", "all"}) {
    const KeywordClass& cls = get_class_by_type(Value(kind)).keywords();
    for (const std::string& name : cls.all_keyword()) {
      if (!seen.insert(name).second) continue;
      names.push_back(name);
      const KeywordEntry* entry = cls.find(name);
      Json items = Json::array();
      std::size_t required = 0;
      for (const Param& p : entry->params) {
        items.push_back({{"description", param_text(p)}});
        if (!p.default_value && !p.default_fn) ++required;
      }
      Json args{{"type", "array"}, {"minItems", required}};
      if (!items.empty()) args["prefixItems"] = items;
      Json then{{"properties", {{"args", args}}}};
      if (required > 0) then["required"] = {"args"};
      rules.push_back({{"if", {{"properties", {{"keyword", {{"const", name}}}}}, {"required", {"keyword"}}}}, {"then", then}});
    }
  }
  return rules;
}

}  // namespace

std::string yaml_case_schema() {
  load_keywords_for_run();
  std::vector<std::string> keyword_names;
  const Json keyword_checks = keyword_rules(keyword_names);

  const Json pairs = {{"type", "object"},
                      {"additionalProperties", {{"type", "array"}, {"minItems", 2}, {"maxItems", 2}}},
                      {"description", "断言说明: [实际值, 期望值]"}};
  const Json checks = object_of({"equals", "not_equals", "in", "not_in"},
                                {{"equals", pairs}, {"not_equals", pairs}, {"in", pairs}, {"not_in", pairs}});
  std::map<std::string, Json> request_fields{
      {"method", described(kText, "GET、POST 等")}, {"url", described(kText, "完整地址，或接在 base_url 之后的路径")},
      {"params", kMapping}, {"headers", kMapping}, {"cookies", kMapping}, {"json", described(Json::object(), "JSON 正文")},
      {"data", described({{"anyOf", Json::array({kMapping, kText})}}, "表单（映射）或原样发送的正文（文本）")},
      {"files", described(kMapping, "字段名: 文件路径（相对于 YAML 文件）")},
      {"timeout", described({{"type", "number"}, {"exclusiveMinimum", 0}}, "本次请求的超时秒数")}};
  std::vector<std::string> request_keys(std::begin(kRequestFields), std::end(kRequestFields));
  Json request = object_of(request_keys, request_fields);
  request["required"] = {"method", "url"};

  Json step = object_of(
      kStepKeys,
      {{"name", described(kText, "步骤名称")},
       {"keyword", described({{"enum", keyword_names}}, "关键字名称")},
       {"args", described({{"type", "array"}}, "关键字的参数，按顺序")},
       {"request", request},
       {"extract", described(kMapping, "变量名: \"$.JSONPath\"、[成员, 表达式, 序号]、[str, 值] 或 [成员]")},
       {"validate", checks},
       {"text_asserts", described(kMapping, "变量名: {equals、contains、startswith、endswith、regex、length、min_length、"
                                            "max_length、min_value、max_value、msg}")},
       {"retry", object_of(kRetryKeys, {{"times", {{"type", "integer"}, {"minimum", 1}}},
                                        {"interval", {{"type", "number"}, {"minimum", 0}}},
                                        {"until", checks}})}});
  step["oneOf"] = Json::array({{{"required", {"keyword"}}}, {{"required", {"request"}}}});
  step["allOf"] = keyword_checks;

  const Json steps{{"type", "array"}, {"items", {{"$ref", "#/$defs/step"}}}};
  const Json type = described({{"enum", {"web", "app", "api", "all"}}}, "关键字类型");
  const std::map<std::string, Json> case_fields{
      {"name", described(kText, "用例名称")}, {"type", type}, {"tags", kWords}, {"fixtures", kWords},
      {"skip", {{"anyOf", Json::array({{{"type", "boolean"}}, kText})}}}, {"variables", kMapping},
      {"base_url", kText},
      {"parametrize", {{"anyOf", Json::array({{{"type", "array"}, {"items", kMapping}},
                                              object_of({"file"}, {{"file", kText}})})}}},
      {"setup", steps}, {"steps", steps}, {"teardown", steps},
      {"timeout", described({{"type", "number"}, {"exclusiveMinimum", 0}}, "用例最多运行的秒数")},
      {"reruns", described({{"type", "integer"}, {"minimum", 0}}, "失败后重跑的次数")},
      {"group", described({{"type", "string"}, {"minLength", 1}}, "并行运行时同组的用例在同一执行进程中按顺序运行")},
      {"cases", {{"type", "array"}, {"minItems", 1}, {"items", {{"$ref", "#/$defs/case"}}}}}};
  Json one_case = object_of(kCaseKeys, case_fields);
  one_case["required"] = {"steps"};
  Json many = object_of(kFileKeys, case_fields);
  many["required"] = {"cases"};

  const Json schema{{"$schema", "https://json-schema.org/draft/2020-12/schema"},
                    {"title", "tovik YAML 用例"},
                    {"description", "test_*.yaml：一个用例（有 steps），或 cases: 用例列表"},
                    {"oneOf", Json::array({{{"$ref", "#/$defs/case"}}, many})},
                    {"$defs", {{"case", one_case}, {"step", step}}}};
  return schema.dump(2) + "\n";
}

}  // namespace tovik::runner
