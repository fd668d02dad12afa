// Watching the rig's health round by round, on the in-process rig.
#include "harness.h"
#include "rdm/health_watch.h"
#include "rig/fixtures.h"

#include <gtest/gtest.h>

namespace {

constexpr Uid kSpot = 0x7FF000000301ull;
constexpr Uid kWash = 0x7FF000000302ull;

struct Watch : RigHarness {
    rig::Responder& spot = line.add(kSpot, rig::SpotModel());
    rig::Responder& wash = line.add(kWash, rig::WashModel());
    HealthWatch watch{engine};

    Watch() { engine.setFastExchange(true); }

    std::vector<std::string> round()
    {
        std::vector<std::string> out;
        for (const HealthChange& c : watch.round())
            out.push_back(UidColonText(c.uid) + " " + HealthChangeName(c.kind) + ": " + c.text);
        return out;
    }
    const DeviceHealth& health(Uid uid) const
    {
        for (const DeviceHealth& d : watch.devices())
            if (d.uid == uid)
                return d;
        throw std::runtime_error("not watched");
    }
    static bool has(const std::vector<std::string>& lines, const std::string& text)
    {
        for (const std::string& l : lines)
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }
};

} // namespace

TEST(HealthWatch, FirstRoundFindsEveryDeviceAndReadsItsSensorsAndLamp)
{
    Watch w;
    const auto first = w.round();
    EXPECT_TRUE(Watch::has(first, "7FF0:00000301 new"));
    EXPECT_TRUE(Watch::has(first, "7FF0:00000302 new"));
    const DeviceHealth& spot = w.health(kSpot);
    ASSERT_EQ(spot.sensors.size(), 2u);
    EXPECT_TRUE(spot.sensors[0].defined);
    EXPECT_EQ(spot.sensors[0].description, "Lamp housing");
    EXPECT_EQ(spot.sensors[0].value, 62);
    EXPECT_EQ(spot.lampHours, 310u);
    EXPECT_EQ(spot.lampState, 1);
    EXPECT_EQ(spot.worstStatus(), rdm::STATUS_NONE);
    // The readings drift from round to round; nothing else changed.
    const auto second = w.round();
    EXPECT_TRUE(second.empty()) << second.front();
    EXPECT_EQ(w.health(kSpot).sensors[0].value, 63);
}

TEST(HealthWatch, OfflineAndOnlineWithinOneRoundAndANewDeviceInTheNext)
{
    Watch w;
    w.round();
    // One poll unanswered is no proof that it left: a reply may be lost.
    w.line.setPowered(w.spot, false);
    EXPECT_TRUE(w.round().empty());
    EXPECT_TRUE(w.health(kSpot).online);
    w.line.setPowered(w.spot, true);
    EXPECT_TRUE(w.round().empty());
    // Two in a row are.
    w.line.setPowered(w.spot, false);
    EXPECT_TRUE(w.round().empty());
    EXPECT_EQ(w.round(), (std::vector<std::string>{"7FF0:00000301 offline: offline"}));
    EXPECT_FALSE(w.health(kSpot).online);
    // Back after its power cycle, un-muted: the incremental discovery hears it, and
    // it is the same device online again, not a new one.
    w.line.setPowered(w.spot, true);
    EXPECT_EQ(w.round(), (std::vector<std::string>{"7FF0:00000301 online: online"}));
    EXPECT_EQ(w.watch.devices().size(), 2u);
    // A device switched on between rounds is listed in the next.
    w.line.add(0x7FF000000303ull, rig::DimmerRackModel());
    const auto next = w.round();
    EXPECT_TRUE(Watch::has(next, "7FF0:00000303 new")) << next.size();
    EXPECT_EQ(w.watch.devices().size(), 3u);
}

TEST(HealthWatch, StatusMessagesAppearAndClearAndSensorsLeaveTheirNormalRange)
{
    Watch w;
    w.round();
    w.spot.statusQueue.push_back({0, rdm::STATUS_WARNING, 0x0021, 0, 97});
    auto changes = w.round();
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000301 status: warning: Sensor 0 over temp at 97 degrees C"))
        << (changes.empty() ? "" : changes.front());
    EXPECT_EQ(w.health(kSpot).worstStatus(), rdm::STATUS_WARNING);
    EXPECT_TRUE(w.round().empty()) << "a message is reported once";
    w.spot.statusQueue.push_back({0, rdm::STATUS_WARNING_CLEARED, 0x0021, 0, 80});
    changes = w.round();
    EXPECT_TRUE(Watch::has(changes, "status cleared: warning cleared:"));
    EXPECT_EQ(w.health(kSpot).worstStatus(), rdm::STATUS_NONE);

    w.wash.sensors[1].value = 29;  // the supply, normally 22..26 V
    changes = w.round();
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000302 sensor out of range: sensor 1 (Supply) 29 V DC, outside"));
    w.wash.sensors[1].value = 24;
    EXPECT_TRUE(Watch::has(w.round(), "7FF0:00000302 sensor in range"));
    w.spot.lampState = 0;
    EXPECT_TRUE(Watch::has(w.round(), "lamp on -> off"));
}

TEST(HealthWatch, ABadAnswerIsShownForItsDeviceAndTheRoundGoesOn)
{
    Watch w;
    rig::ResponderModel odd = rig::WashModel();
    odd.sensors[0].normalMin = 80;  // above its normal maximum: an inverted range
    w.line.add(0x7FF000000304ull, odd);
    auto changes = w.round();
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000304 problem: SENSOR_DEFINITION 0: inverted range"));
    // A broken status list and answers for the wrong sensor, from a rig file's faults.
    w.spot.faults.malformedStatus = true;
    w.spot.faults.wrongSensorNumber = true;
    changes = w.round();
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000301 problem: STATUS_MESSAGES: malformed list"));
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000301 problem: SENSOR_VALUE 0: malformed"));
    EXPECT_TRUE(w.health(kSpot).online);
    w.spot.faults = {};
    w.line.add(0x7FF000000305ull, rig::SpotModel()).faults.wrongSensorNumber = true;
    changes = w.round();
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000305 problem: SENSOR_DEFINITION 0: malformed"));
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000305 new"));
    w.wash.faults.ackTimer = true;
    changes = w.round();
    EXPECT_TRUE(Watch::has(changes, "7FF0:00000302 problem: STATUS_MESSAGES: answered ACK_TIMER"));
    EXPECT_TRUE(w.health(kWash).online) << "answering ACK_TIMER, it is there";
    EXPECT_TRUE(w.health(kSpot).online);
    EXPECT_FALSE(w.health(kSpot).sensors.empty());
    EXPECT_FALSE(w.watch.interfaceFailed());
}
