#include "harness.h"
#include "params/int_parse.h"
#include "params/param_desc.h"
#include "params/param_edit.h"
#include "params/param_query.h"
#include "params/param_read.h"
#include "params/standard_param.h"
#include "rdm/text_codec.h"
#include "rdm/pid_layouts.h"
#include "rdm/device_info.h"
#include "rig/fixtures.h"

#include <gtest/gtest.h>

namespace {

RDMPARAMDESC Record(uint8_t type, uint8_t pdlSize)
{
    RDMPARAMDESC r;
    r.dataType = type;
    r.pdlSize = pdlSize;
    return r;
}

} // namespace

TEST(ParamDesc, BuiltInTable)
{
    RDMPARAMDESC r;
    FillBuiltInDescription(0x00F0, r);
    EXPECT_EQ(r.description, "DMX Start Address");
    EXPECT_TRUE(r.writable());
    EXPECT_EQ(ElementCount(r), 1);
    EXPECT_EQ(r.minValue, 1u);
    EXPECT_EQ(r.maxValue, 512u);
    FillBuiltInDescription(0x0082, r);
    EXPECT_EQ(r.dataType, DS_ASCII);
    EXPECT_EQ(r.commandClass, 0x03);
    FillBuiltInDescription(0x0060, r);
    EXPECT_EQ(r.description, "Unknown PID");
    EXPECT_FALSE(r.writable());
    EXPECT_EQ(FormatParamValue(r), "");
}

TEST(ParamDesc, ElementCountsAndFormatting)
{
    RDMPARAMDESC w = Record(DS_SIGNED_WORD, 4);
    w.wordValues[0] = 0xFFFE;
    w.wordValues[1] = 5;
    EXPECT_EQ(FormatParamValue(w), "[-2, 5]");
    RDMPARAMDESC u = Record(DS_UNSIGNED_WORD, 2);
    u.wordValues[0] = 300;
    EXPECT_EQ(FormatParamValue(u), "300");
    RDMPARAMDESC b = Record(DS_UNSIGNED_BYTE, 3);
    b.byteValues[0] = 1;
    b.byteValues[1] = 2;
    b.byteValues[2] = 255;
    EXPECT_EQ(FormatParamValue(b), "[1, 2, 255]");
    RDMPARAMDESC s = Record(DS_SIGNED_BYTE, 1);
    s.byteValues[0] = 0x80;
    EXPECT_EQ(FormatParamValue(s), "-128");
    RDMPARAMDESC d7 = Record(DS_UNSIGNED_DWORD, 4);
    d7.dwordValues[0] = 0xFFFFFFFF;
    EXPECT_EQ(FormatParamValue(d7), "-1");
    RDMPARAMDESC d8 = Record(DS_SIGNED_DWORD, 8);
    d8.dwordValues[0] = 10;
    d8.dwordValues[1] = uint32_t(-20);
    EXPECT_EQ(FormatParamValue(d8), "[10, -20]");
    EXPECT_EQ(ElementCount(Record(DS_UNSIGNED_WORD, 3)), 1);
    EXPECT_EQ(ElementCount(Record(DS_SIGNED_DWORD, 7)), 1);
    EXPECT_EQ(ElementCount(Record(20, 5)), 5);
    EXPECT_EQ(FormatParamValue(Record(20, 5)), "");
    EXPECT_EQ(FormatParamValue(Record(DS_UNSIGNED_BYTE, 0)), "");

    RDMPARAMDESC text = Record(DS_ASCII, 32);
    for (int i = 0; i < 32; ++i)
        text.byteValues[i] = uint8_t('A' + i % 26);
    EXPECT_EQ(FormatParamValue(text).size(), 32u);
}

TEST(ParamDesc, StoreElementCutsToTheElementWidth)
{
    RDMPARAMDESC b = Record(DS_UNSIGNED_BYTE, 1);
    StoreElement(b, 300, 0);
    EXPECT_EQ(b.byteValues[0], 44);
    StoreElement(b, 256, 0);
    EXPECT_EQ(b.byteValues[0], 0);
    StoreElement(b, -1, 0);
    EXPECT_EQ(b.byteValues[0], 255);
    RDMPARAMDESC w = Record(DS_UNSIGNED_WORD, 2);
    StoreElement(w, -1, 0);
    EXPECT_EQ(w.wordValues[0], 65535);
    RDMPARAMDESC t = Record(DS_ASCII, 4);
    StoreElement(t, 65, 0);
    EXPECT_EQ(t.byteValues[0], 0);
    // Indexes past the stores are ignored.
    StoreElement(w, 1, 116);
    StoreElement(b, 1, 232);
}

TEST(ParamDesc, DescriptionFromTheDeviceIsBounded)
{
    uint8_t data[64] = {0x80, 0x04, 0xFF, DS_UNSIGNED_WORD, 0x03, 0, 1, 2};
    rdm::WriteBE32(0xFFFFFFF6, data + 8);
    rdm::WriteBE32(1000, data + 12);
    rdm::WriteBE32(7, data + 16);
    const char* name = "A description of exactly 40 chars here!!";
    memcpy(data + 20, name, 40);
    RDMPARAMDESC r;
    FillFromParameterDescription(data, 60, r);
    EXPECT_EQ(r.pid, 0x8004);
    EXPECT_EQ(r.pdlSize, 231) << "a size above the standard's limit is bounded";
    EXPECT_EQ(ElementCount(r), 115);
    EXPECT_EQ(r.minValue, 0xFFFFFFF6u);
    EXPECT_EQ(r.maxValue, 1000u);
    EXPECT_EQ(r.defaultValue, 7u);
    EXPECT_EQ(r.unit, 1);
    EXPECT_EQ(r.prefix, 2);
    EXPECT_EQ(r.description, std::string(name, 32));
    data[25] = 0;
    FillFromParameterDescription(data, 60, r);
    EXPECT_EQ(r.description, "A des");
}

TEST(ParamDesc, TerminateTextAndReaders)
{
    uint8_t buffer[33];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(TerminateText(buffer, 32), 32);
    EXPECT_EQ(buffer[32], 0);
    buffer[5] = 0;
    EXPECT_EQ(TerminateText(buffer, 32), 5);
    const uint8_t be[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(rdm::ReadBE16(be), 0x1234);
    EXPECT_EQ(rdm::ReadBE32(be), 0x12345678u);
}

TEST(IntParse, DecimalOnlyWithTheMessage)
{
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt(" 7 "), 7);
    for (const char* bad : {"", "1.5", "abc", "2147483648", "0x10", "-"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(TextCodec, RoundTripsCyrillic)
{
    const std::string label = "Прожектор №1 — Ёлка";
    const std::string wire = Utf8ToCp1251(label);
    EXPECT_EQ(wire.size(), 19u);
    EXPECT_EQ(uint8_t(wire[0]), 0xCF);
    EXPECT_EQ(uint8_t(wire[10]), 0xB9);
    EXPECT_EQ(Cp1251ToUtf8(wire), label);
    EXPECT_EQ(Utf8ToCp1251("日"), "?");
}

TEST(DeviceInfo, TextsAndCategories)
{
    uint8_t d[19] = {1, 0, 0x12, 0xAB, 0x01, 0x02, 0x01, 0x02, 0x0A, 0xFF, 0, 24, 2, 4, 0x01, 0xF4, 0, 3, 7};
    rdm::DeviceInfo info;
    ASSERT_TRUE(rdm::DecodeDeviceInfo(d, sizeof d, info));
    EXPECT_FALSE(rdm::DecodeDeviceInfo(d, sizeof d - 1, info)) << "a short DEVICE_INFO is not decoded";
    auto rows = DeviceInfoTexts(info);
    EXPECT_EQ(rows[0], "1.0");
    EXPECT_EQ(rows[1], "0x12AB");
    EXPECT_EQ(rows[2], "Moving Head");
    EXPECT_EQ(rows[3], "0x01020AFF");
    EXPECT_EQ(rows[4], "24");
    EXPECT_EQ(rows[5], "2(4)");
    EXPECT_EQ(rows[6], "500");
    EXPECT_EQ(rows[7], "3");
    EXPECT_EQ(rows[8], "7");
    EXPECT_STREQ(ProductCategoryName(0x0100), "unknown");
    EXPECT_STREQ(ProductCategoryName(0x0505), "unknown");
    EXPECT_STREQ(ProductCategoryName(0x0401), "Fog & Haze");
    EXPECT_STREQ(ProductCategoryName(0x0509), "LED Dimmer");
}

// A manufacturer PID the device will not describe keeps an empty row, and nothing
// is asked for a PID it does not have.
TEST(DeviceInfo, AnUndescribedPidIsNotRead)
{
    RigHarness h;
    const Uid uid = 0x7FF000000078ull;
    rig::ResponderModel model = rig::LedParModel();
    model.supportedParameters.push_back(0x8F00);  // listed, never described
    h.line.add(uid, model);
    ParamTable table;
    std::vector<std::string> values;
    ParamReadSink sink;
    sink.listed = [](int) {};
    sink.deviceInfo = [](const std::array<std::string, 9>*) {};
    sink.softwareVersionLabel = [](const std::string&) {};
    sink.row = [&](int, const RDMPARAMDESC&, const std::string& value) { values.push_back(value); };
    ReadDeviceParameters(h.engine, uid, table, sink, RunControl{});
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), "");
    for (const rig::RecordedRequest& r : h.line.requests())
        EXPECT_NE(r.decoded.pid, 0) << "no GET of PID 0";
}

TEST(DeviceInfo, AgainstRigResponders)
{
    RigHarness h;
    const Uid uid = 0x7FF000000077ull;
    rig::ResponderModel model = rig::MovingHeadModel();
    rig::Responder& r = h.line.add(uid, model);
    ParamTable table;
    const int count = GetSupportedParameters(h.engine, uid, table);
    EXPECT_EQ(count, int(model.supportedParameters.size()));
    EXPECT_GT(count, 9) << "every supported PID is taken, not only the first nine";
    EXPECT_EQ(table.supportedPids[count - 1], model.supportedParameters.back());
    EXPECT_EQ(table.supportedPids[count], 0);
    EXPECT_EQ(h.log.lines[0], "Получение параметров 0x7FF000000077");

    GetParameterDescription(h.engine, uid, 0x8004, table.records[0]);
    EXPECT_EQ(table.records[0].description, "Pan/Tilt Speed");
    EXPECT_EQ(ElementCount(table.records[0]), 2);
    EXPECT_EQ(ReadParamValue(h.engine, uid, table.records[0]), "[300, 100]");
    // A double-word value is not read: "n/a", not zeros.
    GetParameterDescription(h.engine, uid, 0x8002, table.records[1]);
    EXPECT_EQ(ReadParamValue(h.engine, uid, table.records[1]), "n/a");

    std::array<std::string, 9> rows;
    ASSERT_TRUE(ReadDeviceInfo(h.engine, uid, rows));
    EXPECT_EQ(rows[2], "Moving Head");
    // A device that answers ACK_TIMER is waited for, and its answers taken.
    r.faults.ackTimer = true;
    rows = {};
    EXPECT_TRUE(ReadDeviceInfo(h.engine, uid, rows));
    EXPECT_EQ(rows[2], "Moving Head");
    EXPECT_EQ(GetSupportedParameters(h.engine, uid, table), count);
    table.records[0] = {};
    GetParameterDescription(h.engine, uid, 0x8004, table.records[0]);
    EXPECT_EQ(table.records[0].description, "Pan/Tilt Speed");
}

TEST(ParamEdit, CommitSendsByTypeAndReadsBack)
{
    RigHarness h;
    const Uid uid = 0x7FF000000078ull;
    rig::Responder& r = h.line.add(uid, rig::MovingHeadModel());
    RDMPARAMDESC start;
    FillBuiltInDescription(0x00F0, start);
    h.log.lines.clear();
    auto shown = CommitValue(h.engine, uid, start, "300", true);
    EXPECT_EQ(r.startAddress, 300);
    ASSERT_TRUE(shown);
    EXPECT_EQ(*shown, "300");
    EXPECT_EQ(h.log.lines, (std::vector<std::string>{"Set PID 00F0:", "Get PID 00F0:"}));
    // Without read-back the typed text stays.
    EXPECT_FALSE(CommitValue(h.engine, uid, start, "301", false));
    // A value the device refuses is logged with the device and the reason, and the
    // device's own value is read at once, read-back or not: the record never keeps 600.
    h.log.lines.clear();
    shown = CommitValue(h.engine, uid, start, "600", false);
    EXPECT_EQ(r.startAddress, 301);
    ASSERT_TRUE(shown);
    EXPECT_EQ(*shown, "301");
    EXPECT_EQ(FormatParamValue(start), "301");
    EXPECT_EQ(h.log.lines, (std::vector<std::string>{"Set PID 00F0:",
                                                     "Устройство 0x7FF000000078 отклонило \"DMX Start Address\": "
                                                     "NACK DATA_OUT_OF_RANGE",
                                                     "Get PID 00F0:"}));
    // A refusal whose read-back gets no answer puts the value held before back.
    r.faults.silent = true;
    h.log.lines.clear();
    EXPECT_FALSE(CommitValue(h.engine, uid, start, "302", false));
    EXPECT_EQ(h.log.lines.back(), "Устройство 0x7FF000000078 не ответило на установку \"DMX Start Address\"");
    r.faults.silent = false;
    EXPECT_THROW(CommitValue(h.engine, uid, start, "1.5", false), ConvertError);

    RDMPARAMDESC label;
    FillBuiltInDescription(0x0082, label);
    const size_t requests = h.line.requests().size();
    EXPECT_FALSE(CommitValue(h.engine, uid, label, std::string(40, 'z'), true));
    EXPECT_EQ(h.line.requests().size(), requests) << "a text commit sends nothing";
    EXPECT_EQ(FormatParamValue(label), std::string(31, 'z'));
    SendTextValue(h.engine, uid, label, Utf8ToCp1251("Сцена"));
    EXPECT_EQ(r.deviceLabel, Utf8ToCp1251("Сцена"));
    EXPECT_EQ(h.line.requests().back().decoded.data.size(), 6u);
}

TEST(StandardParams, EveryLaidOutPidIsNamedAsE120NamesIt)
{
    EXPECT_EQ(StandardParamName("DEVICE_MODEL_DESCRIPTION"), "Device Model Description");
    EXPECT_EQ(StandardParamName("DMX_PERSONALITY"), "DMX Personality");
    EXPECT_EQ(StandardParamName("IDENTIFY_DEVICE"), "Identify Device");
    for (const PidLayout* e = PidLayoutsBegin(); e != PidLayoutsEnd(); ++e) {
        RDMPARAMDESC r;
        ASSERT_TRUE(FillStandardDescription(e->pid, r)) << e->name;
        EXPECT_FALSE(r.description.empty());
        EXPECT_NE(r.layout, nullptr);
        // Edited in place only with one field to set, the field the GET gives.
        if (r.writable()) {
            EXPECT_STREQ(e->setRequest, e->getReply) << e->name;
        }
    }
    RDMPARAMDESC r;
    EXPECT_FALSE(FillStandardDescription(0x8001, r)) << "a manufacturer PID is described by its device";
    // Several fields read as name: value pairs; data that does not fit is no value.
    ASSERT_TRUE(FillStandardDescription(rdm::DMX_PERSONALITY, r));
    r.byteValues[0] = 2;
    r.byteValues[1] = 3;
    r.valueLength = 2;
    EXPECT_EQ(StandardValueText(r), "[personality: 2, personality_count: 3]");
    r.valueLength = 3;
    EXPECT_EQ(StandardValueText(r), std::nullopt);
}
