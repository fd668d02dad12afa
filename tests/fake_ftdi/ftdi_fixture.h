#pragma once
// The real D2XX layer over the fake libftdi, with the rig's responders behind the
// fake chips, on a virtual clock. A contract breach fails the test that caused it.
#include "fake_ftdi/fake_libftdi.h"
#include "harness.h"
#include "link/ftdi_d2xx.h"

#include <gtest/gtest.h>

struct FakeFtdiBus {
    fakeftdi::Bus& bus = fakeftdi::Bus::get();

    explicit FakeFtdiBus(Clock& clock)
    {
        bus.reset(clock);
        bus.onViolation = [](const std::string& what) { ADD_FAILURE() << "libftdi contract: " << what; };
    }
    ~FakeFtdiBus() { bus.onViolation = nullptr; }
};

struct FtdiHarness {
    VirtualClock clock{1000000};
    rig::VirtualLine line{clock};
    FakeFtdiBus fake{clock};
    FtdiD2xx d2xx{clock};
    rig::RigSerial serial;
    InterfacePort port{serial, d2xx};
    RecordingLog log;
    RdmEngine engine{port, clock, log};

    fakeftdi::Chip& add(rig::FtdiMode mode, const std::string& serialNumber)
    {
        return fake.bus.add(line, mode, serialNumber);
    }

    bool connect(int kind, int deviceNumber)
    {
        port.PortClose();
        port.setKind(int8_t(kind));
        port.setDeviceIndex(deviceNumber);
        engine.SetupRequestHeader();
        return port.PortOpen() == 1;
    }
};
