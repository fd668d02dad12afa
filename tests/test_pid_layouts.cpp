#include "rdm/pid_layouts.h"
#include "rdm/pid_names.h"
#include "rdm/rdm_defs.h"
#include "rdm/standard_replies.h"
#include "rig/fixtures.h"
#include "rig/responder.h"

#include <gtest/gtest.h>
#include <cstring>
#include <sstream>

namespace {

// A value every field of the type takes, and how it decodes again.
std::pair<std::string, std::string> Sample(const std::string& type)
{
    if (type == "u8") return {"200", "200"};
    if (type == "u16") return {"0x0201", "513"};
    if (type == "u32") return {"4000000000", "4000000000"};
    if (type == "s16") return {"-1234", "-1234"};
    if (type == "bool") return {"on", "on"};
    if (type == "uid") return {"7ff0:00000001", "7FF0:00000001"};
    if (type == "pid") return {"device_label", "0x0082"};
    if (type == "lang") return {"en", "en"};
    if (type == "text") return {"Stage left", "Stage left"};
    return {"0A0b ff", "0A0BFF"};
}

// Values for a layout (a group twice), and what decoding them gives.
void SamplesFor(const char* layout, std::vector<std::string>& in, std::vector<std::string>& back)
{
    std::istringstream words(layout);
    std::string token;
    std::vector<std::string> group;
    bool inGroup = false;
    while (words >> token) {
        inGroup = inGroup || token[0] == '(';
        const std::string type = token.substr(token.find(':') + 1, token.find(')') - token.find(':') - 1);
        const auto [value, decoded] = Sample(type);
        if (inGroup)
            group.push_back(type);
        in.push_back(value);
        back.push_back(decoded);
    }
    for (const std::string& type : group) {
        const auto [value, decoded] = Sample(type);
        in.push_back(value);
        back.push_back(decoded);
    }
}

} // namespace

TEST(PidLayouts, EveryStandardGetAndSetPidHasALayoutInOrder)
{
    uint16_t last = 0;
    for (const PidLayout* l = PidLayoutsBegin(); l != PidLayoutsEnd(); ++l) {
        EXPECT_GT(l->pid, last);
        last = l->pid;
        EXPECT_NE(FindPidName(l->pid), nullptr) << std::hex << l->pid;
        EXPECT_TRUE(l->getRequest || l->setRequest) << std::hex << l->pid;
        EXPECT_EQ(l->getRequest == nullptr, l->getReply == nullptr);
        EXPECT_EQ(l->setRequest == nullptr, l->setReply == nullptr);
        EXPECT_EQ(FindPidLayout(l->pid), l);
    }
    for (const PidName* n = PidNamesBegin(); n != PidNamesEnd(); ++n) {
        if (n->pid > rdm::DISC_UN_MUTE) {
            EXPECT_NE(FindPidLayout(n->pid), nullptr) << n->name;
        }
    }
    EXPECT_EQ(FindPidLayout(rdm::DISC_MUTE), nullptr);
    EXPECT_EQ(FindPidLayout(0x8000), nullptr);
}

TEST(PidLayouts, EveryLayoutEncodesAndDecodesBack)
{
    for (const PidLayout* l = PidLayoutsBegin(); l != PidLayoutsEnd(); ++l)
        for (const char* layout : {l->getRequest, l->getReply, l->setRequest, l->setReply}) {
            if (!layout)
                continue;
            SCOPED_TRACE(std::string(FindPidName(l->pid)->name) + ": " + layout);
            std::vector<std::string> in, expected;
            SamplesFor(layout, in, expected);
            std::vector<uint8_t> bytes;
            std::string error;
            ASSERT_TRUE(EncodeLayout(layout, in, bytes, error)) << error;
            const auto fields = DecodeLayout(layout, bytes.data(), bytes.size());
            ASSERT_TRUE(fields.has_value());
            ASSERT_EQ(fields->size(), expected.size());
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_EQ((*fields)[i].value, expected[i]) << (*fields)[i].name;
        }
}

TEST(PidLayouts, KnownLayoutsGiveTheStandardBytes)
{
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(EncodeLayout(FindPidLayout(rdm::DMX_START_ADDRESS)->setRequest, {"512"}, bytes, error));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x02, 0x00}));
    ASSERT_TRUE(EncodeLayout(FindPidLayout(0x0603)->setRequest, {"2026", "12", "9", "7", "30", "0"}, bytes, error));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x07, 0xEA, 12, 9, 7, 30, 0}));
    const uint8_t sensor[] = {1, 0xFF, 0xF6, 0x00, 0x00, 0x01, 0x2C, 0x00, 0x64};
    const auto fields = DecodeLayout(FindPidLayout(0x0201)->getReply, sensor, sizeof sensor);
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ((*fields)[1].name, "present");
    EXPECT_EQ((*fields)[1].value, "-10");
    EXPECT_EQ((*fields)[3].value, "300");
}

TEST(PidLayouts, BadValuesAreRefusedWithTheFieldNamed)
{
    const char* address = FindPidLayout(rdm::DMX_START_ADDRESS)->setRequest;
    const char* label = FindPidLayout(rdm::DEVICE_LABEL)->setRequest;
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(EncodeLayout(address, {"65536"}, bytes, error));
    EXPECT_NE(error.find("address"), std::string::npos) << error;
    EXPECT_FALSE(EncodeLayout(address, {"12a"}, bytes, error));
    EXPECT_FALSE(EncodeLayout(address, {}, bytes, error));
    EXPECT_FALSE(EncodeLayout(address, {"1", "2"}, bytes, error));
    EXPECT_FALSE(EncodeLayout(label, {std::string(33, 'x')}, bytes, error));
    EXPECT_TRUE(EncodeLayout(label, {std::string(32, 'x')}, bytes, error));
    EXPECT_FALSE(EncodeLayout(FindPidLayout(rdm::IDENTIFY_DEVICE)->setRequest, {"maybe"}, bytes, error));
    EXPECT_FALSE(EncodeLayout("uid:uid", {"7FF0:0001"}, bytes, error));
    EXPECT_FALSE(EncodeLayout("pid:pid", {"NO_SUCH_PID"}, bytes, error));
    EXPECT_FALSE(EncodeLayout("(slot:u16 value:u8)*", {"1"}, bytes, error)) << "half a repetition";
    EXPECT_FALSE(EncodeLayout("v:s16", {"-32769"}, bytes, error));
}

TEST(PidLayouts, DataThatDoesNotFitIsNotDecoded)
{
    const char* info = FindPidLayout(rdm::DEVICE_INFO)->getReply;
    std::vector<uint8_t> data(19, 0);
    EXPECT_TRUE(DecodeLayout(info, data.data(), data.size()).has_value());
    EXPECT_FALSE(DecodeLayout(info, data.data(), 18).has_value());
    data.push_back(0);
    EXPECT_FALSE(DecodeLayout(info, data.data(), data.size()).has_value()) << "a byte left over";
    const uint8_t two[] = {2};
    EXPECT_FALSE(DecodeLayout("on:bool", two, 1).has_value());
    std::vector<uint8_t> longText(33, 'a');
    EXPECT_FALSE(DecodeLayout("label:text", longText.data(), longText.size()).has_value());
    const uint8_t partial[] = {0, 1, 2};
    EXPECT_FALSE(DecodeLayout("(slot:u16 value:u8)*", partial, 2).has_value());
    EXPECT_TRUE(DecodeLayout("(slot:u16 value:u8)*", partial, 3).has_value());
    EXPECT_TRUE(DecodeLayout("(slot:u16 value:u8)*", partial, 0).has_value()) << "an empty list";
}

TEST(PidLayouts, TheRigAnswersItsStandardPidsInTheirLayouts)
{
    rig::Responder r(0x7FF000000001ull, rig::MovingHeadModel());
    r.deviceLabel = "Truss 1 left";
    std::vector<uint16_t> pids = r.model().supportedParameters;
    // and the ones every device answers without listing them
    pids.insert(pids.end(), {rdm::SUPPORTED_PARAMETERS, rdm::DEVICE_INFO, rdm::SOFTWARE_VERSION_LABEL,
                             rdm::DMX_START_ADDRESS, rdm::IDENTIFY_DEVICE});
    for (uint16_t pid : pids) {
        const PidLayout* layout = FindPidLayout(pid);
        if (!layout || !layout->getRequest)
            continue;
        rig::Request q;
        q.destination = r.uid();
        q.source = kOwnUid;
        q.commandClass = rdm::GET_COMMAND;
        q.pid = pid;
        if (pid == rdm::DMX_PERSONALITY_DESCRIPTION)
            q.data.assign(std::vector<uint8_t>{1}.data(), 1);
        if (pid == rdm::PARAMETER_DESCRIPTION && !r.model().manufacturerParams.empty())
        {
            uint8_t pidBytes[2];
            rdm::WriteBE16(r.model().manufacturerParams[0].pid, pidBytes);
            q.data.assign(pidBytes, 2);
        }
        const auto reply = r.handle(q);
        ASSERT_TRUE(reply.has_value()) << std::hex << pid;
        rdm::RdmResponse m;
        ASSERT_EQ(rdm::Decode(reply->bytes.data(), reply->bytes.size(), m), rdm::DecodeError::None);
        ASSERT_EQ(m.responseType, rdm::RESPONSE_TYPE_ACK) << std::hex << pid;
        EXPECT_TRUE(DecodeLayout(layout->getReply, m.data.bytes, m.data.pdl).has_value())
            << FindPidName(pid)->name;
    }
}

// The typed decoders of the required replies and the layout table read the same
// bytes the same way, and each refuses what the other refuses for size.
TEST(PidLayouts, TypedDecodersAgreeWithTheLayoutTable)
{
    auto field = [](const std::vector<PidField>& fields, const std::string& name) {
        for (const PidField& f : fields)
            if (f.name == name)
                return f.value;
        return std::string("?");
    };
    rdm::DeviceInfo info;
    info.protocolMajor = 1;
    info.modelId = 0x1234;
    info.productCategory = 0x0509;
    info.softwareVersionId = 0x01020304;
    info.footprint = 24;
    info.personality = 3;
    info.personalityCount = 5;
    info.startAddress = 500;
    info.subDeviceCount = 12;
    info.sensorCount = 2;
    const std::vector<uint8_t> infoBytes = rdm::EncodeDeviceInfo(info);
    const auto infoFields = DecodeLayout(FindPidLayout(rdm::DEVICE_INFO)->getReply, infoBytes.data(), infoBytes.size());
    ASSERT_TRUE(infoFields.has_value());
    rdm::DeviceInfo back;
    ASSERT_TRUE(rdm::DecodeDeviceInfo(infoBytes.data(), infoBytes.size(), back));
    EXPECT_EQ(field(*infoFields, "model_id"), std::to_string(back.modelId));
    EXPECT_EQ(field(*infoFields, "product_category"), std::to_string(back.productCategory));
    EXPECT_EQ(field(*infoFields, "software_version_id"), std::to_string(back.softwareVersionId));
    EXPECT_EQ(field(*infoFields, "footprint"), std::to_string(back.footprint));
    EXPECT_EQ(field(*infoFields, "personality_count"), std::to_string(back.personalityCount));
    EXPECT_EQ(field(*infoFields, "start_address"), std::to_string(back.startAddress));
    EXPECT_EQ(field(*infoFields, "sub_device_count"), std::to_string(back.subDeviceCount));
    EXPECT_EQ(field(*infoFields, "sensor_count"), std::to_string(back.sensorCount));
    EXPECT_FALSE(rdm::DecodeDeviceInfo(infoBytes.data(), infoBytes.size() - 1, back));
    EXPECT_FALSE(DecodeLayout(FindPidLayout(rdm::DEVICE_INFO)->getReply, infoBytes.data(), infoBytes.size() - 1));

    rdm::ParameterDescription d;
    d.pid = 0x8004;
    d.pdlSize = 4;
    d.dataType = 5;
    d.commandClass = 3;
    d.unit = 1;
    d.prefix = 0x13;
    d.minValue = 0;
    d.maxValue = 65535;
    d.defaultValue = 300;
    std::strcpy(d.description, "Pan/Tilt Speed");
    const std::vector<uint8_t> dBytes = rdm::EncodeParameterDescription(d);
    const auto dFields =
        DecodeLayout(FindPidLayout(rdm::PARAMETER_DESCRIPTION)->getReply, dBytes.data(), dBytes.size());
    ASSERT_TRUE(dFields.has_value());
    rdm::ParameterDescription dBack;
    ASSERT_TRUE(rdm::DecodeParameterDescription(dBytes.data(), dBytes.size(), dBack));
    EXPECT_EQ(field(*dFields, "pdl_size"), std::to_string(dBack.pdlSize));
    EXPECT_EQ(field(*dFields, "data_type"), std::to_string(dBack.dataType));
    EXPECT_EQ(field(*dFields, "max_value"), std::to_string(dBack.maxValue));
    EXPECT_EQ(field(*dFields, "default_value"), std::to_string(dBack.defaultValue));
    EXPECT_EQ(field(*dFields, "description"), std::string(dBack.description));

    const std::vector<uint16_t> pids{0x0082, 0x00F0, 0x8004};
    const std::vector<uint8_t> listBytes = rdm::EncodeSupportedParameters(pids);
    const auto listFields =
        DecodeLayout(FindPidLayout(rdm::SUPPORTED_PARAMETERS)->getReply, listBytes.data(), listBytes.size());
    ASSERT_TRUE(listFields.has_value());
    uint16_t decoded[8] = {};
    ASSERT_EQ(rdm::DecodeSupportedParameters(listBytes.data(), listBytes.size(), decoded, 8), listFields->size());
    EXPECT_EQ(std::vector<uint16_t>(decoded, decoded + 3), pids);
}
