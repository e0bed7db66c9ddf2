#include "scanner_connection.h"

#include <cerrno>
#include <cstring>

#include "failure.h"

namespace qzctl {

ScannerConnection::ScannerConnection(const Ipv4 &ip) : address_(FormatIpv4(ip.data())) {
    const DeviceAnnouncement record = MakeAnnouncement(ip);
    errno = 0;
    socket_ = QZ417_Connect(&record);
    if (socket_ == -1 || socket_ == 0) {
        const int err = errno;
        std::string line = "no scanner at " + address_ + " (TCP port 417";
        if (err != 0)
            line += std::string(": ") + std::strerror(err);
        throw Failure(line + ")");
    }
}

ScannerConnection::~ScannerConnection() {
    QZ417_Disconnect(socket_);
}

void ScannerConnection::fail(const std::string &what) const {
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK || err == ETIMEDOUT)
        throw Failure("time-out: " + address_ + " did not answer the " + what);
    if (err == 0 || err == ECONNRESET || err == EPIPE)
        throw Failure(address_ + " closed the connection during the " + what);
    throw Failure(what + " with " + address_ + " failed: " + std::strerror(err));
}

std::array<std::uint8_t, QZ417_CONFIG_SIZE> ScannerConnection::readParams() {
    std::array<std::uint8_t, QZ417_CONFIG_SIZE> block{};
    errno = 0;
    if (QZ417_ReadParams(socket_, block.data()) != 1)
        fail("parameter read");
    return block;
}

void ScannerConnection::writeParams(const std::array<std::uint8_t, QZ417_CONFIG_SIZE> &block) {
    errno = 0;
    if (QZ417_WriteParams(socket_, block.data()) != 1)
        fail("parameter write");
}

void ScannerConnection::flushParams(int mode) {
    errno = 0;
    if (QZ417_FlushParams(socket_, mode) != 1)
        fail(mode == QZ417_FLUSH_DEFAULTS ? "return to the defaults" : "parameter store");
}

std::array<std::uint8_t, QZ417_PACKET_SIZE> ScannerConnection::getResult() {
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    errno = 0;
    if (QZ417_GetResult(socket_, packet.data()) != 1)
        fail("profile request");
    return packet;
}

std::vector<std::uint8_t> ScannerConnection::getImage() {
    std::vector<std::uint8_t> image(QZ417_IMAGE_SIZE);
    errno = 0;
    if (QZ417_GetImage(socket_, image.data()) != 1)
        fail("image request");
    return image;
}

std::int16_t ScannerConnection::calcAngle() {
    std::uint8_t reply[QZ417_ANGLE_SIZE] = {0, 0};
    errno = 0;
    if (QZ417_CalcAngle(socket_, reply) != 1)
        fail("angle calculation");
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(reply[0] | (reply[1] << 8)));
}

} // namespace qzctl
