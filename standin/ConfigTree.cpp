// The host's configuration tree, and its file form.
//
// Each element keeps its values in the order they were first set, each with its type (text,
// integer or float) and its text form, which GetString hands out. Children keep their order.
//
// File form, human-readable JSON, one object per element:
//   {
//     "name": "source",
//     "values": { "path": "D:/fx/a.gif", "cx": 200, "opacity": 0.5 },
//     "children": [ { "name": "data", "values": { ... } } ]
//   }
// Texts are JSON strings, integers JSON integers, floats JSON numbers with a fraction or an
// exponent (a float that is not finite is kept as the text "nan", "inf" or "-inf"). "values" and
// "children" are left out when empty. Loading checks the whole file before it touches the tree.
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/Log.h"
#include "host/XElement.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

using Json = nlohmann::ordered_json;

namespace {

constexpr size_t kMaxConfigFile = 64u << 20;
constexpr int kMaxDepth = 256;

}  // namespace

namespace standin {

class ConfigElement final : public XElement {
public:
    enum class Type { Text, Int, Float };
    struct Value {
        std::wstring key;
        Type type = Type::Text;
        std::wstring text;  // what GetString returns, for every type
        int intValue = 0;
        float floatValue = 0.0f;
    };

    ConfigElement(std::wstring name, ConfigElement* parent)
        : name_(std::move(name)), parent_(parent) {}

    const wchar_t* GetString(const wchar_t* key, const wchar_t* def) override {
        const Value* value = Find(key);
        return value ? value->text.c_str() : def;
    }

    int GetInt(const wchar_t* key, int def) override {
        const Value* value = Find(key);
        if (!value)
            return def;
        switch (value->type) {
            case Type::Int:
                return value->intValue;
            case Type::Float:
                return detail::SaturatingInt(value->floatValue);
            default:
                return detail::ParseIntText(value->text.c_str());
        }
    }

    float GetFloat(const wchar_t* key, float def) override {
        const Value* value = Find(key);
        if (!value)
            return def;
        switch (value->type) {
            case Type::Int:
                return static_cast<float>(value->intValue);
            case Type::Float:
                return value->floatValue;
            default:
                return detail::ParseFloatText(value->text.c_str());
        }
    }

    void SetString(const wchar_t* key, const wchar_t* value) override {
        if (!key)
            return;
        std::wstring text = value ? value : L"";  // copied first: `value` may be our own text
        Value& slot = Slot(key);
        slot.type = Type::Text;
        slot.text = std::move(text);
        slot.intValue = 0;
        slot.floatValue = 0.0f;
    }

    void SetInt(const wchar_t* key, int value) override {
        if (!key)
            return;
        Value& slot = Slot(key);
        slot.type = Type::Int;
        slot.text = std::to_wstring(value);
        slot.intValue = value;
        slot.floatValue = 0.0f;
    }

    void SetFloat(const wchar_t* key, float value) override {
        if (!key)
            return;
        Value& slot = Slot(key);
        slot.type = Type::Float;
        slot.text = detail::FloatText(value);
        slot.intValue = 0;
        slot.floatValue = value;
    }

    XElement* GetElement(const wchar_t* name) override {
        if (!name)
            return nullptr;
        for (auto& child : children_)
            if (child->name_ == name)
                return child.get();
        return nullptr;
    }

    XElement* CreateElement(const wchar_t* name) override {
        children_.push_back(std::make_unique<ConfigElement>(name ? name : L"", this));
        return children_.back().get();
    }

    XElement* GetParent() override { return parent_; }
    const wchar_t* GetName() override { return name_.c_str(); }

    bool Has(const wchar_t* key) const { return Find(key) != nullptr; }
    std::vector<std::wstring> Keys() const {
        std::vector<std::wstring> keys;
        for (const auto& value : values_)
            keys.push_back(value->key);
        return keys;
    }
    std::vector<XElement*> ChildElements() const {
        std::vector<XElement*> children;
        for (const auto& child : children_)
            children.push_back(child.get());
        return children;
    }
    bool IsRoot() const { return parent_ == nullptr; }

    Json ToJson(int depth, bool& tooDeep) const;
    // Builds `element`'s contents from `json`; false with a reason on anything unexpected.
    // A value that cannot be a setting is left out and named in `leftOut`; the rest loads.
    static bool FromJson(const Json& json, ConfigElement& element, int depth, std::string& why,
                         std::vector<std::string>& leftOut);
    // Takes over another element's name, values and children.
    void TakeContents(ConfigElement& other) {
        name_ = std::move(other.name_);
        values_ = std::move(other.values_);
        children_ = std::move(other.children_);
        for (auto& child : children_)
            child->parent_ = this;
    }

private:
    const Value* Find(const wchar_t* key) const {
        if (!key)
            return nullptr;
        for (const auto& value : values_)
            if (value->key == key)
                return value.get();
        return nullptr;
    }

    // The value under `key`, made (at the end) when absent. Values are held by pointer so that a
    // text handed out stays put while other keys are added.
    Value& Slot(const wchar_t* key) {
        for (auto& value : values_)
            if (value->key == key)
                return *value;
        values_.push_back(std::make_unique<Value>());
        values_.back()->key = key;
        return *values_.back();
    }

    std::wstring name_;
    ConfigElement* parent_;
    std::vector<std::unique_ptr<Value>> values_;
    std::vector<std::unique_ptr<ConfigElement>> children_;
};

namespace {

// A setting is a 32-bit int; a colour (0xAARRGGBB) above INT_MAX, as a hand-edited file writes
// it, is the unsigned reading of the same bits, which is how the module takes it back.
bool AsSettingInt(const Json& value, int& number) {
    if (value.is_number_unsigned()) {
        const uint64_t n = value.get<uint64_t>();
        if (n > UINT32_MAX)
            return false;
        number = static_cast<int>(static_cast<uint32_t>(n));
        return true;
    }
    const int64_t n = value.get<int64_t>();
    if (n < INT_MIN || n > INT_MAX)
        return false;
    number = static_cast<int>(n);
    return true;
}

}  // namespace

Json ConfigElement::ToJson(int depth, bool& tooDeep) const {
    Json json = Json::object();
    json["name"] = ToUtf8(name_);
    if (depth > kMaxDepth) {
        tooDeep = true;
        return json;
    }
    if (!values_.empty()) {
        Json values = Json::object();
        for (const auto& value : values_) {
            std::string key = ToUtf8(value->key);
            switch (value->type) {
                case Type::Text:
                    values[key] = ToUtf8(value->text);
                    break;
                case Type::Int:
                    values[key] = value->intValue;
                    break;
                case Type::Float:
                    if (std::isfinite(value->floatValue)) {
                        // The shortest text of the float, as a double, reads back as that float.
                        std::string text = ToUtf8(value->text);
                        double number = 0.0;
                        std::from_chars(text.data(), text.data() + text.size(), number);
                        values[key] = number;
                    } else {
                        values[key] = ToUtf8(value->text);
                    }
                    break;
            }
        }
        json["values"] = std::move(values);
    }
    if (!children_.empty()) {
        Json children = Json::array();
        for (const auto& child : children_)
            children.push_back(child->ToJson(depth + 1, tooDeep));
        json["children"] = std::move(children);
    }
    return json;
}

bool ConfigElement::FromJson(const Json& json, ConfigElement& element, int depth, std::string& why,
                             std::vector<std::string>& leftOut) {
    if (depth > kMaxDepth)
        return why = "elements nested too deeply", false;
    if (!json.is_object())
        return why = "an element is not an object", false;
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (it.key() != "name" && it.key() != "values" && it.key() != "children")
            return why = "unknown field \"" + it.key() + "\"", false;
    }
    if (json.contains("name")) {
        if (!json["name"].is_string())
            return why = "a name is not a text", false;
        element.name_ = FromUtf8(json["name"].get<std::string>());
    }
    if (json.contains("values")) {
        const Json& values = json["values"];
        if (!values.is_object())
            return why = "\"values\" is not an object", false;
        for (auto it = values.begin(); it != values.end(); ++it) {
            std::wstring key = FromUtf8(it.key());
            const Json& value = it.value();
            if (value.is_string()) {
                element.SetString(key.c_str(), FromUtf8(value.get<std::string>()).c_str());
            } else if (value.is_number_integer()) {
                int number = 0;
                if (!AsSettingInt(value, number)) {
                    leftOut.push_back("value \"" + it.key() + "\" is out of range");
                    continue;
                }
                element.SetInt(key.c_str(), number);
            } else if (value.is_number_float()) {
                element.SetFloat(key.c_str(), detail::SaturatingFloat(value.get<double>()));
            } else {
                leftOut.push_back("value \"" + it.key() + "\" is not a text or a number");
            }
        }
    }
    if (json.contains("children")) {
        const Json& children = json["children"];
        if (!children.is_array())
            return why = "\"children\" is not an array", false;
        for (const Json& child : children) {
            auto made = std::make_unique<ConfigElement>(L"", &element);
            if (!FromJson(child, *made, depth + 1, why, leftOut))
                return false;
            element.children_.push_back(std::move(made));
        }
    }
    return true;
}

namespace {

ConfigElement* AsConfig(XElement* element) {
    return dynamic_cast<ConfigElement*>(element);
}

}  // namespace

ConfigElement* NewConfigRoot(const wchar_t* name) {
    return new ConfigElement(name ? name : L"", nullptr);
}

void DeleteConfigRoot(ConfigElement* root) {
    if (!root)
        return;
    if (!root->IsRoot()) {
        Log(L"DeleteConfigRoot: \"%s\" is not a root; left alone", root->GetName());
        return;
    }
    delete root;
}

XElement* AsXElement(ConfigElement* element) {
    return element;
}

bool SaveConfig(XElement* root, const std::string& path) {
    ConfigElement* element = AsConfig(root);
    if (!element) {
        Log(L"SaveConfig: \"%S\": not an element of the stand-in's tree", path.c_str());
        return false;
    }
    bool tooDeep = false;
    std::string text;
    try {
        text = element->ToJson(0, tooDeep).dump(2) + "\n";
    } catch (const std::exception& error) {
        Log(L"SaveConfig: \"%S\": %S", path.c_str(), error.what());
        return false;
    }
    if (tooDeep) {
        Log(L"SaveConfig: \"%S\": elements nested too deeply", path.c_str());
        return false;
    }
    if (!detail::WriteWholeFile(path, text.data(), text.size())) {
        Log(L"SaveConfig: could not write \"%S\"", path.c_str());
        return false;
    }
    return true;
}

bool LoadConfig(XElement* root, const std::string& path) {
    ConfigElement* element = AsConfig(root);
    if (!element) {
        Log(L"LoadConfig: \"%S\": not an element of the stand-in's tree", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!detail::ReadWholeFile(path, kMaxConfigFile, bytes)) {
        Log(L"LoadConfig: could not read \"%S\"", path.c_str());
        return false;
    }
    Json json;
    try {
        json = Json::parse(bytes.begin(), bytes.end());
    } catch (const std::exception& error) {
        Log(L"LoadConfig: \"%S\" is not JSON: %S", path.c_str(), error.what());
        return false;
    }
    ConfigElement loaded(element->GetName(), nullptr);
    std::string why;
    std::vector<std::string> leftOut;
    if (!ConfigElement::FromJson(json, loaded, 0, why, leftOut)) {
        Log(L"LoadConfig: \"%S\" is not a configuration file: %S", path.c_str(), why.c_str());
        return false;
    }
    for (const std::string& line : leftOut)
        Log(L"LoadConfig: \"%S\": %S; left out", path.c_str(), line.c_str());
    element->TakeContents(loaded);
    return true;
}

bool HasKey(XElement* element, const wchar_t* key) {
    ConfigElement* config = AsConfig(element);
    return config && config->Has(key);
}

std::vector<std::wstring> KeyNames(XElement* element) {
    ConfigElement* config = AsConfig(element);
    return config ? config->Keys() : std::vector<std::wstring>();
}

std::vector<XElement*> Children(XElement* element) {
    ConfigElement* config = AsConfig(element);
    return config ? config->ChildElements() : std::vector<XElement*>();
}

}  // namespace standin
