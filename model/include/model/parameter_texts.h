// Texts of the "Parameters" page: the value lists of its five combo boxes and
// the captions that the laser and integration track bars build. Pure code.
#pragma once

#include <string>
#include <vector>

namespace qz417 {

// "disable", "1 Hz." ... "255 Hz." (item index = udpFrequency).
std::vector<std::string> UdpFrequencyItems();
// "off", "128 pnt.", "256 pnt.", "512 pnt.", "1024 pnt." (index = analogPoints).
std::vector<std::string> AnalogOutPointsItems();
// "1 us." ... "256 us." (index = analogTime).
std::vector<std::string> AnalogOutTimeItems();
// "Meas. / 1" ... "Meas. / 256" (index = syncDivider).
std::vector<std::string> SyncDividerItems();
// "0 ms." ... "255 ms." (index = syncDelay).
std::vector<std::string> SyncDelayItems();

// "Laser: <level> level".
std::string LaserCaption(int level);
// "Integration: <value + 1> us": the field holds the time minus one.
std::string IntegrationCaption(int value);

} // namespace qz417
