// Any bytes as the command block: the fuzzer's bytes are the start of an 8192-byte block (the rest
// zeros, or a filler with no null anywhere), and also a view of exactly their own length, odd ones
// included. The text is copied and parsed and the results are held against a plain restatement of
// the reading rules; then a source polls the block as the console would have left it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "controller/ConsoleLink.h"
#include "controller/ConsoleProtocol.h"
#include "fuzz/FuzzSupport.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "standin/Standin.h"

namespace {

using vantrel::EffectCommand;
using vantrel::kCommandBlockSize;
using vantrel::kCommandTextCapacity;

// The text a reader must find at the start of `bytes`: UTF-16LE units up to the first null, which
// must lie within the first 1024 units and within the bytes. False when there is no such null.
bool ExpectedText(const uint8_t* bytes, size_t size, std::u16string& text) {
    text.clear();
    for (size_t i = 0; i < kCommandTextCapacity && 2 * i + 1 < size; ++i) {
        const char16_t unit = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (unit == 0)
            return true;
        text.push_back(unit);
    }
    text.clear();
    return false;
}

// The fields of a text: runs of '|' separate them and empty ones do not exist.
std::vector<std::u16string> Fields(const std::u16string& text) {
    std::vector<std::u16string> fields;
    std::u16string field;
    for (char16_t c : text) {
        if (c != u'|') {
            field.push_back(c);
        } else if (!field.empty()) {
            fields.push_back(field);
            field.clear();
        }
    }
    if (!field.empty())
        fields.push_back(field);
    return fields;
}

// A field that is a plain decimal number (an optional sign, then digits only) has one right
// reading, saturated at the 32-bit limits. False for any other field.
bool PlainNumber(const std::u16string& field, int32_t& value) {
    size_t i = 0;
    const bool negative = !field.empty() && field[0] == u'-';
    if (!field.empty() && (field[0] == u'-' || field[0] == u'+'))
        i = 1;
    if (i == field.size())
        return false;
    int64_t magnitude = 0;
    for (; i < field.size(); ++i) {
        if (field[i] < u'0' || field[i] > u'9')
            return false;
        magnitude = magnitude * 10 + (field[i] - u'0');
        if (magnitude > (int64_t{1} << 32))
            magnitude = int64_t{1} << 32;
    }
    int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX)
        signedValue = INT32_MAX;
    if (signedValue < INT32_MIN)
        signedValue = INT32_MIN;
    value = static_cast<int32_t>(signedValue);
    return true;
}

void CheckNumber(const std::u16string& field, int32_t parsed) {
    FUZZ_CHECK(vantrel::ReadCommandInteger(field.c_str()) == parsed);
    int32_t want = 0;
    if (PlainNumber(field, want))
        FUZZ_CHECK(parsed == want);
}

// Copies and parses one view, and checks both against the rules.
void ReadView(const uint8_t* view, size_t viewBytes) {
    char16_t text[kCommandTextCapacity];
    // Marks what the copy must overwrite, or leave alone past the text's null.
    for (char16_t& unit : text)
        unit = u'\xFFFF';
    std::u16string want;
    const bool haveText = ExpectedText(view, viewBytes, want);
    const bool copied = vantrel::CopyCommandText(view, viewBytes, text);
    FUZZ_CHECK(copied == haveText);
    if (!copied) {
        FUZZ_CHECK(text[0] == 0);
        return;
    }
    FUZZ_CHECK(want.size() < kCommandTextCapacity);
    FUZZ_CHECK(std::u16string(text) == want);

    EffectCommand command;
    std::memset(&command, 0x5A, sizeof(command));
    const bool parsed = vantrel::ParseCommand(text, command);
    const std::vector<std::u16string> fields = Fields(want);
    FUZZ_CHECK(parsed == (fields.size() >= vantrel::kCommandFieldCount));
    if (!parsed) {
        FUZZ_CHECK(command.commandId == 0 && command.effectPath[0] == 0);
        return;
    }
    CheckNumber(fields[0], command.commandId);
    CheckNumber(fields[2], command.width);
    CheckNumber(fields[3], command.height);
    CheckNumber(fields[5], command.effectId);
    CheckNumber(fields[6], command.xPercent);
    CheckNumber(fields[7], command.yPercent);
    // The path is the second field, converted to the platform's wide text.
    size_t length = 0;
    while (length < kCommandTextCapacity && command.effectPath[length] != 0)
        ++length;
    FUZZ_CHECK(length < kCommandTextCapacity);
    FUZZ_CHECK(length > 0 && length <= fields[1].size());
    if (sizeof(wchar_t) == sizeof(char16_t))
        FUZZ_CHECK(length == fields[1].size());

    // Placement: the product wraps in 32 bits and is divided unsigned.
    const uint32_t canvases[] = {0, 1, 1080, 1920, 4096, 0xFFFFFFFFu};
    for (uint32_t canvas : canvases) {
        const uint32_t product = static_cast<uint32_t>(command.xPercent) * canvas;
        const int32_t placed = vantrel::PlacementFromPercent(command.xPercent, canvas);
        FUZZ_CHECK(placed >= 0);
        FUZZ_CHECK(static_cast<uint32_t>(placed) == product / 100u);
    }
}

// A source in a scene with a console window: polls the block a few times. Whatever the text
// names is loaded from the work folder (or not found there).
void PollBlock(const uint8_t* block) {
    platform::SimSystem& sim = platform::Simulation();
    uint8_t* bytes = sim.CreateBlock(vantrel::kCommandBlockName, kCommandBlockSize);
    FUZZ_CHECK(bytes != nullptr);
    std::memcpy(bytes, block, kCommandBlockSize);
    sim.CreateWindowWithTitle(vantrel::kConsoleTitle);

    standin::ConfigElement* root = standin::NewConfigRoot(L"scenes");
    XElement* container = standin::AsXElement(root)->CreateElement(L"sources");
    container->SetString(L"sceneGuid", L"{00000000-0000-0000-0000-000000000001}");
    XElement* data = container->CreateElement(L"fx")->CreateElement(L"data");

    const fuzzsupport::Baseline baseline = fuzzsupport::TakeBaseline();
    ImageSource* source = vantrel::CreateBitmapSource(data);
    FUZZ_CHECK(source != nullptr);
    const size_t logged = standin::LogRecords().size();
    for (int i = 0; i < 6; ++i)
        source->Advance(0.025f);
    auto* effect = static_cast<vantrel::VoteImageSource*>(source);
    fuzzsupport::CheckImage(*effect->Snapshot().image);
    FUZZ_CHECK(sim.OpenViewCount() == 0);
    // One command at most is applied, however often it is seen: "stop play.", its load, "start
    // play." and a live report, never a line per poll.
    FUZZ_CHECK(standin::LogRecords().size() <= logged + 4);
    delete source;
    fuzzsupport::CheckBackAt(baseline);
    standin::DeleteConfigRoot(root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::BeginInput();
    if (size > kCommandBlockSize)
        size = kCommandBlockSize;

    // A view exactly as long as the input: the sanitizers see any read beyond it.
    std::vector<uint8_t> exact(data, data + size);
    ReadView(exact.data(), exact.size());

    std::vector<uint8_t> block(kCommandBlockSize, 0);
    std::memcpy(block.data(), data, size);
    ReadView(block.data(), block.size());

    // The same bytes followed by text that never ends.
    std::vector<uint8_t> unended(kCommandBlockSize, 0x41);
    std::memcpy(unended.data(), data, size);
    ReadView(unended.data(), unended.size());

    PollBlock(block.data());
    fuzzsupport::BeginInput();
    PollBlock(unended.data());
    return 0;
}
