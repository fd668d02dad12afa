#include "app/line_report.h"
#include "harness.h"
#include "rig/fixtures.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

struct ReportRig : RigHarness {
    ReportRig()
    {
        line.add(0x7FF000000001ull, rig::MovingHeadModel());
        line.add(0x7FF000000002ull, rig::DimmerPackModel()).startAddress = 33;
    }

    int run(LineReportOptions options, std::string& text)
    {
        std::ostringstream out;
        const int status = RunLineReport(port, clock, options, out);
        text = out.str();
        return status;
    }
};

bool Has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }

} // namespace

TEST(LineReport, ReportsTheOpenTheDiscoveryAndEachDevicesInformation)
{
    ReportRig r;
    LineReportOptions options;
    options.interface = RigHarness::kPath;  // a node the listing does not show
    std::string text;
    EXPECT_EQ(r.run(options, text), 0);
    EXPECT_TRUE(Has(text, "Interface kind: Стандартный VCP\n"));
    EXPECT_TRUE(Has(text, "Open: RDM интерфейс инициализирован\n"));
    EXPECT_TRUE(Has(text, "    Обнаружение RDM устройств.\n"));
    EXPECT_TRUE(Has(text, "    Обнаружение завершено за"));
    EXPECT_TRUE(Has(text, "Device 7FF0:00000002:\n"));
    EXPECT_TRUE(Has(text, "    Product Category: Dimmer\n"));
    EXPECT_TRUE(Has(text, "    DMX512 Start Address: 33\n"));
    EXPECT_TRUE(Has(text, "Result: 2 device(s) found, 2 answered DEVICE_INFO\n")) << text;
    EXPECT_EQ(r.port.comHandle(), SerialApi::kInvalidHandle) << "the report leaves the interface closed";
}

TEST(LineReport, FtdiInterfacesByRowOrSerialAndMissingOnes)
{
    ReportRig r;
    LineReportOptions options;
    options.kind = KindEnttecUsbPro;
    options.interface = "RIGPRO01";
    std::string text;
    EXPECT_EQ(r.run(options, text), 0);
    EXPECT_TRUE(Has(text, "Chosen: row 1, Device_1 S/N: RIGPRO01\n"));
    EXPECT_TRUE(Has(text, "Result: 2 device(s) found, 2 answered DEVICE_INFO\n")) << text;

    options.interface = "NOSUCH";
    EXPECT_EQ(r.run(options, text), 1);
    EXPECT_TRUE(Has(text, "\"NOSUCH\" not listed"));

    // The stored row, as the window left it, is the default.
    options.interface.clear();
    options.kind = KindTalvern;
    options.storedRow = 0;
    EXPECT_EQ(r.run(options, text), 0);
    EXPECT_TRUE(Has(text, "Chosen: row 0, Device_0 S/N: RIGRAW01\n"));

    r.d2xx.setOpenable(0, false);
    r.d2xx.setOpenable(1, false);
    EXPECT_EQ(r.run(options, text), 1) << "nothing listed, nothing to open";
}
