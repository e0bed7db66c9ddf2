// The last N profiles of the surface view, newest first, each kept with its
// raw bytes (to show it again at full resolution), its counters, its receive
// time, the scale it was decoded with, and its row of the height map: Z of
// the nearest point in each X column. Pure C++, no Qt.
//
// Adding a profile only copies it; its row is binned when it is first asked
// for, so profiles that scroll out of the history before anyone looks at
// them (a hidden view, or more than N between two redraws) cost a copy only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/profile_packet.h"

namespace qz417 {

// The X extent of the height map and how many columns it has.
struct SurfaceColumns {
    double xMin = -120.75;
    double xMax = 120.75;
    int count = 400;
    bool operator==(const SurfaceColumns &) const = default;
    // Column of X, or -1 outside [xMin, xMax).
    int ColumnOf(double x) const;
    double CentreOf(int column) const;
};

// One row of the height map: per column the smallest Z of the valid points
// that fall into it (the surface nearest to the scanner), NaN where none does.
void BinProfile(const std::uint8_t *packet, const ProfileScale &scale,
                const SurfaceColumns &columns, float *row);

struct SurfaceRow {
    std::array<std::uint8_t, kProfilePacketSize> packet{};
    ProfileScale scale;
    std::int64_t monotonicNs = 0;
    std::uint16_t measurementCount = 0;
    std::uint16_t packetCount = 0;
};

class SurfaceHistory {
public:
    static constexpr std::size_t kMinDepth = 10;
    static constexpr std::size_t kMaxDepth = 10000;

    explicit SurfaceHistory(std::size_t depth = 1000, SurfaceColumns columns = {});

    // Keeps at most `depth` profiles (clamped to kMinDepth..kMaxDepth); the
    // newest stay when it shrinks.
    void SetDepth(std::size_t depth);
    std::size_t depth() const { return depth_; }
    // Every kept profile is binned again (when next asked for).
    void SetColumns(const SurfaceColumns &columns);
    const SurfaceColumns &columns() const { return columns_; }

    void Add(const std::uint8_t *packet, const ProfileScale &scale, std::int64_t monotonicNs);

    std::size_t size() const { return size_; }
    // age 0 is the newest profile; age < size().
    const SurfaceRow &Row(std::size_t age) const;
    // The height-map row (columns().count cells), binned on first use.
    const float *Cells(std::size_t age);
    // Profiles added since construction.
    std::uint64_t added() const { return added_; }

private:
    std::size_t SlotOf(std::size_t age) const;
    void Resize(std::size_t depth);

    std::size_t depth_;
    SurfaceColumns columns_;
    std::vector<SurfaceRow> rows_;     // ring of depth_ slots
    std::vector<float> cells_;         // depth_ x columns_.count
    std::vector<std::uint8_t> binned_; // per slot: 1 when its cells are current
    std::size_t newest_ = 0;           // slot of age 0
    std::size_t size_ = 0;
    std::uint64_t added_ = 0;
};

} // namespace qz417
