#pragma once
// Stock fixture models for the virtual rig: a varied truss of devices, each with
// the standard parameters and manufacturer-specific ones of every data type.
#include "rig/virtual_line.h"

#include <string>

namespace rig {

constexpr uint16_t kRigManufacturer = 0x7FF0;  // the E1.20 prototyping range

ResponderModel MovingHeadModel();
ResponderModel DimmerPackModel();
ResponderModel LedParModel();
ResponderModel FoggerModel();
ResponderModel ScannerModel();
ResponderModel ProjectorModel();

// The model for a stock kind by name ("moving-head", "dimmer", "led-par", "fogger",
// "scanner", "projector"); false when the name is unknown.
// With sensors, status messages and hours: a discharge spot with a lamp, and an LED wash.
ResponderModel SpotModel();
ResponderModel WashModel();
// Twelve channels as sub-devices 1..12, one slot each; the rack itself has none.
ResponderModel DimmerRackModel();
bool ModelByName(const std::string& name, ResponderModel& out);

// Adds `count` stock devices in turn of the kinds above, with distinct UIDs of the
// rig's manufacturer, start addresses laid out one after another. Lines given a
// different `series` (the ports of one node) get devices of their own.
void AddStockDevices(VirtualLine& line, int count, uint32_t series = 0);

} // namespace rig
