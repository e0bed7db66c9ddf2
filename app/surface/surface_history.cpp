#include "surface/surface_history.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace qz417 {

int SurfaceColumns::ColumnOf(double x) const {
    if (count <= 0 || !(xMax > xMin) || x < xMin || x >= xMax)
        return -1;
    const int c = static_cast<int>((x - xMin) / (xMax - xMin) * count);
    return std::min(c, count - 1);
}

double SurfaceColumns::CentreOf(int column) const {
    return xMin + (column + 0.5) * (xMax - xMin) / count;
}

void BinProfile(const std::uint8_t *packet, const ProfileScale &scale,
                const SurfaceColumns &columns, float *row) {
    constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
    std::fill(row, row + columns.count, kNone);
    if (scale.discreteValue == 0 || columns.count <= 0 || !(columns.xMax > columns.xMin))
        return;
    // Runs for every profile shown, so it works on the raw values: the column
    // from raw X by one multiplication, the nearest point by the smallest raw
    // Z (Z grows with raw Z), held in the row as a float (exact for 16 bits).
    // Only each column's winner is converted to millimetres, as DecodePoint
    // does.
    const double columnsPerRaw = static_cast<double>(scale.rangeXEmr) / scale.discreteValue *
                                 columns.count / (columns.xMax - columns.xMin);
    const double columnOfZero = -columns.xMin * columns.count / (columns.xMax - columns.xMin);
    const std::int16_t error = scale.errorValue;
    for (int i = 0; i < kProfilePoints; ++i) {
        const std::uint8_t *b = packet + 4 + 4 * i;
        const auto zRaw = static_cast<std::int16_t>(b[0] | (b[1] << 8));
        const auto xRaw = static_cast<std::int16_t>(b[2] | (b[3] << 8));
        if (zRaw == error || xRaw == error)
            continue;
        const double at = xRaw * columnsPerRaw + columnOfZero;
        if (!(at >= 0) || at >= columns.count)
            continue;
        float &cell = row[static_cast<int>(at)];
        if (!(cell <= zRaw)) // NaN or farther
            cell = zRaw;
    }
    const std::int16_t validX = error == 1 ? 2 : 1;
    for (int c = 0; c < columns.count; ++c)
        if (!std::isnan(row[c]))
            row[c] = DecodePoint(RawPoint{static_cast<std::int16_t>(row[c]), validX}, scale).z;
}

SurfaceHistory::SurfaceHistory(std::size_t depth, SurfaceColumns columns)
    : depth_(std::clamp(depth, kMinDepth, kMaxDepth)), columns_(columns) {
    rows_.resize(depth_);
    cells_.assign(depth_ * static_cast<std::size_t>(columns_.count),
                  std::numeric_limits<float>::quiet_NaN());
    binned_.assign(depth_, 0);
}

std::size_t SurfaceHistory::SlotOf(std::size_t age) const {
    return (newest_ + depth_ - age) % depth_;
}

const SurfaceRow &SurfaceHistory::Row(std::size_t age) const {
    return rows_[SlotOf(age)];
}

const float *SurfaceHistory::Cells(std::size_t age) {
    const std::size_t slot = SlotOf(age);
    float *cells = cells_.data() + slot * static_cast<std::size_t>(columns_.count);
    if (binned_[slot] == 0) {
        BinProfile(rows_[slot].packet.data(), rows_[slot].scale, columns_, cells);
        binned_[slot] = 1;
    }
    return cells;
}

void SurfaceHistory::Add(const std::uint8_t *packet, const ProfileScale &scale,
                         std::int64_t monotonicNs) {
    newest_ = (newest_ + 1) % depth_;
    SurfaceRow &row = rows_[newest_];
    std::memcpy(row.packet.data(), packet, kProfilePacketSize);
    row.scale = scale;
    row.monotonicNs = monotonicNs;
    const ProfilePacket view(packet);
    row.measurementCount = view.measurementCount();
    row.packetCount = view.packetCount();
    binned_[newest_] = 0;
    size_ = std::min(size_ + 1, depth_);
    ++added_;
}

void SurfaceHistory::Resize(std::size_t depth) {
    // Copy the kept rows, newest first, into a fresh ring.
    const std::size_t keep = std::min(size_, depth);
    std::vector<SurfaceRow> rows(depth);
    std::vector<float> cells(depth * static_cast<std::size_t>(columns_.count),
                             std::numeric_limits<float>::quiet_NaN());
    std::vector<std::uint8_t> binned(depth, 0);
    const auto n = static_cast<std::size_t>(columns_.count);
    // Oldest kept goes to slot 0, newest to slot keep - 1.
    for (std::size_t i = 0; i < keep; ++i) {
        const std::size_t age = keep - 1 - i;
        const std::size_t slot = SlotOf(age);
        rows[i] = rows_[slot];
        std::memcpy(cells.data() + i * n, cells_.data() + slot * n, n * sizeof(float));
        binned[i] = binned_[slot];
    }
    rows_ = std::move(rows);
    cells_ = std::move(cells);
    binned_ = std::move(binned);
    depth_ = depth;
    size_ = keep;
    newest_ = keep == 0 ? depth - 1 : keep - 1;
}

void SurfaceHistory::SetDepth(std::size_t depth) {
    depth = std::clamp(depth, kMinDepth, kMaxDepth);
    if (depth != depth_)
        Resize(depth);
}

void SurfaceHistory::SetColumns(const SurfaceColumns &columns) {
    if (columns == columns_ || columns.count <= 0)
        return;
    columns_ = columns;
    cells_.assign(depth_ * static_cast<std::size_t>(columns_.count),
                  std::numeric_limits<float>::quiet_NaN());
    binned_.assign(depth_, 0);
}

} // namespace qz417
