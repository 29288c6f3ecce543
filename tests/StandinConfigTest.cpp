// The configuration tree: typed values with defaults, text forms, order, nesting, and its JSON
// file round trip, including files it must refuse without touching the tree.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "host/XElement.h"
#include "standin/Standin.h"
#include "support/TestHost.h"

namespace {

// A tree root that is deleted with the test.
struct Tree {
    explicit Tree(const wchar_t* name = L"root") : root(standin::NewConfigRoot(name)) {}
    ~Tree() { standin::DeleteConfigRoot(root); }
    XElement* operator->() { return standin::AsXElement(root); }
    XElement* get() { return standin::AsXElement(root); }
    standin::ConfigElement* root;
};

std::vector<unsigned char> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(StandinConfig, AbsentKeysGiveTheDefault) {
    Tree tree;
    EXPECT_EQ(tree->GetString(L"path"), nullptr);
    EXPECT_STREQ(tree->GetString(L"path", L"none"), L"none");
    EXPECT_EQ(tree->GetInt(L"opacity", 100), 100);
    EXPECT_EQ(tree->GetFloat(L"cx", 32.0f), 32.0f);
    EXPECT_EQ(tree->GetInt(nullptr, 5), 5);
    EXPECT_FALSE(standin::HasKey(tree.get(), L"path"));
    EXPECT_EQ(tree->GetElement(L"data"), nullptr);
    EXPECT_EQ(tree->GetParent(), nullptr);
    EXPECT_STREQ(tree->GetName(), L"root");
}

TEST(StandinConfig, ValuesConvertBetweenTypes) {
    Tree tree;
    tree->SetInt(L"opacity", -50);
    tree->SetFloat(L"cx", 200.0f);
    tree->SetFloat(L"scale", 0.1f);
    tree->SetString(L"count", L"  12abc");
    tree->SetString(L"big", L"99999999999");
    tree->SetString(L"ratio", L"1.5e1x");
    tree->SetString(L"word", L"abc");
    tree->SetFloat(L"huge", 3e30f);

    EXPECT_STREQ(tree->GetString(L"opacity"), L"-50");
    EXPECT_STREQ(tree->GetString(L"cx"), L"200");
    EXPECT_STREQ(tree->GetString(L"scale"), L"0.1");
    EXPECT_EQ(tree->GetFloat(L"opacity"), -50.0f);
    EXPECT_EQ(tree->GetInt(L"cx"), 200);
    EXPECT_EQ(tree->GetInt(L"count"), 12);  // read as _wtoi reads
    EXPECT_EQ(tree->GetInt(L"big"), INT_MAX);
    EXPECT_EQ(tree->GetInt(L"huge"), INT_MAX);
    EXPECT_EQ(tree->GetFloat(L"ratio"), 15.0f);
    EXPECT_EQ(tree->GetFloat(L"word", 9.0f), 0.0f);  // present but not a number
    EXPECT_EQ(tree->GetInt(L"word", 9), 0);
}

TEST(StandinConfig, SettingReplacesInPlaceAndKeepsOrder) {
    Tree tree;
    tree->SetString(L"path", L"a.gif");
    tree->SetInt(L"cx", 1);
    tree->SetInt(L"cy", 2);
    const wchar_t* cy = tree->GetString(L"cy");
    tree->SetInt(L"cx", 10);
    tree->SetString(L"path", tree->GetString(L"path"));  // its own text
    for (int i = 0; i < 50; ++i)
        tree->SetInt((L"k" + std::to_wstring(i)).c_str(), i);
    EXPECT_STREQ(cy, L"2");  // still valid: only other keys were written
    EXPECT_STREQ(tree->GetString(L"path"), L"a.gif");
    auto keys = standin::KeyNames(tree.get());
    ASSERT_EQ(keys.size(), 53u);
    EXPECT_EQ(keys[0], L"path");
    EXPECT_EQ(keys[1], L"cx");
    EXPECT_EQ(tree->GetInt(L"cx"), 10);
}

TEST(StandinConfig, ChildrenParentsAndNames) {
    Tree tree(L"scenes");
    XElement* source = tree->CreateElement(L"fx");
    XElement* data = source->CreateElement(L"data");
    XElement* second = tree->CreateElement(L"fx");
    EXPECT_EQ(tree->GetElement(L"fx"), source);  // the first of that name
    EXPECT_EQ(source->GetElement(L"data"), data);
    EXPECT_EQ(data->GetParent(), source);
    EXPECT_EQ(source->GetParent(), tree.get());
    EXPECT_STREQ(data->GetName(), L"data");
    auto children = standin::Children(tree.get());
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1], second);
}

TEST(StandinConfig, FileRoundTrip) {
    testsupport::TempDir dir;
    std::string path = dir.File("scene.json");
    {
        Tree tree(L"scene");
        XElement* source = tree->CreateElement(L"\x7279\x6548 1");
        source->SetFloat(L"cx", 200.5f);
        source->SetFloat(L"cy", 0.1f);
        source->SetFloat(L"odd", NAN);
        XElement* data = source->CreateElement(L"data");
        data->SetString(L"path", L"D:\\fx\\\x7279\x6548.gif");
        data->SetInt(L"opacity", 75);
        data->SetInt(L"keyColor", INT_MIN);
        data->SetString(L"empty", L"");
        tree->CreateElement(L"other")->SetInt(L"n", 1);
        ASSERT_TRUE(standin::SaveConfig(tree.get(), path));
    }
    Tree loaded(L"placeholder");
    loaded->SetInt(L"stale", 1);
    ASSERT_TRUE(standin::LoadConfig(loaded.get(), path));
    EXPECT_STREQ(loaded->GetName(), L"scene");
    EXPECT_FALSE(standin::HasKey(loaded.get(), L"stale"));  // replaced, not merged

    XElement* source = loaded->GetElement(L"\x7279\x6548 1");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->GetParent(), loaded.get());
    EXPECT_EQ(source->GetFloat(L"cx"), 200.5f);
    EXPECT_EQ(source->GetFloat(L"cy"), 0.1f);
    EXPECT_TRUE(std::isnan(source->GetFloat(L"odd")));
    XElement* data = source->GetElement(L"data");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->GetParent(), source);
    EXPECT_STREQ(data->GetString(L"path"), L"D:\\fx\\\x7279\x6548.gif");
    EXPECT_EQ(data->GetInt(L"opacity"), 75);
    EXPECT_EQ(data->GetInt(L"keyColor"), INT_MIN);
    EXPECT_STREQ(data->GetString(L"empty", L"absent"), L"");
    EXPECT_EQ(standin::KeyNames(data),
              (std::vector<std::wstring>{L"path", L"opacity", L"keyColor", L"empty"}));
    EXPECT_EQ(loaded->GetElement(L"other")->GetInt(L"n"), 1);
    // Types survive: an integer is not read back as a float or the reverse.
    EXPECT_STREQ(data->GetString(L"opacity"), L"75");
    EXPECT_STREQ(source->GetString(L"cx"), L"200.5");
}

// A hand-edited colour is an unsigned 32-bit number; only what no setting can hold is left out,
// each with a line naming it, and the rest of the file loads.
TEST(StandinConfig, ValuesNoSettingHoldsAreLeftOutAlone) {
    testsupport::TempDir dir;
    const std::string path = dir.Write(
        "hand.json", Bytes("{\"values\": {\"keyColor\": 4278255360, \"white\": 4294967295, "
                           "\"over\": 4294967296, \"low\": -2147483648, \"under\": -2147483649, "
                           "\"flag\": true, \"opacity\": 50}}"));
    Tree tree;
    standin::ClearLog();
    ASSERT_TRUE(standin::LoadConfig(tree.get(), path));
    EXPECT_EQ(static_cast<uint32_t>(tree->GetInt(L"keyColor")), 0xFF00FF00u);
    EXPECT_EQ(tree->GetInt(L"white"), -1);
    EXPECT_EQ(tree->GetInt(L"low"), INT_MIN);
    EXPECT_EQ(tree->GetInt(L"opacity"), 50);
    EXPECT_EQ(standin::KeyNames(tree.get()),
              (std::vector<std::wstring>{L"keyColor", L"white", L"low", L"opacity"}));
    const std::wstring file = standin::FromUtf8(path);
    std::vector<std::wstring> lines;
    for (const standin::LogRecord& record : standin::LogRecords())
        lines.push_back(record.text);
    EXPECT_EQ(
        lines,
        (std::vector<std::wstring>{
            L"LoadConfig: \"" + file + L"\": value \"over\" is out of range; left out",
            L"LoadConfig: \"" + file + L"\": value \"under\" is out of range; left out",
            L"LoadConfig: \"" + file + L"\": value \"flag\" is not a text or a number; left out"}));
}

TEST(StandinConfig, BadFilesLeaveTheTreeUntouched) {
    testsupport::TempDir dir;
    const std::string files[] = {
        dir.Write("truncated.json", Bytes("{\"name\": \"x\", \"values\": {\"a\": 1")),
        dir.Write("array.json", Bytes("[1, 2]")),
        dir.Write("child.json", Bytes("{\"children\": [{\"children\": 3}]}")),
        dir.Write("field.json", Bytes("{\"name\": \"x\", \"extra\": 1}")),
        dir.Write("empty.json", Bytes("")),
        dir.File("missing.json"),
        dir.path(),  // a folder
    };
    Tree tree;
    tree->SetInt(L"keep", 7);
    tree->CreateElement(L"child");
    for (const std::string& file : files) {
        standin::ClearLog();
        EXPECT_FALSE(standin::LoadConfig(tree.get(), file)) << file;
        EXPECT_EQ(standin::LogRecords().size(), 1u) << file;
        EXPECT_EQ(tree->GetInt(L"keep"), 7);
        EXPECT_NE(tree->GetElement(L"child"), nullptr);
        EXPECT_STREQ(tree->GetName(), L"root");
    }
}

}  // namespace
