#include "surface/surface_history.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace qz {

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
    std::fill(row, row + columns.count, std::numeric_limits<float>::quiet_NaN());
    const ProfilePacket view(packet);
    for (int i = 0; i < kProfilePoints; ++i) {
        const ProfilePoint p = DecodePoint(view.point(i), scale);
        if (!p.valid)
            continue;
        const int c = columns.ColumnOf(p.x);
        if (c < 0)
            continue;
        float &cell = row[c];
        if (std::isnan(cell) || p.z < cell)
            cell = p.z;
    }
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

} // namespace qz
