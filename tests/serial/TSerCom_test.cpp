#include "serial/TSerCom.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "serial/PortNames.h"
#include "sim/Pty.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::serial {
namespace {

using testing::Bytes;
using namespace std::chrono_literals;

// Runs f and returns the TSerErr it throws (code -1 and "no error" when it throws none).
template <typename F>
TSerErr Thrown(F&& f) {
    try {
        f();
    } catch (const TSerErr& e) {
        return e;
    }
    return TSerErr(-1, "no error");
}

class SerialOnPty : public testing::SimFixture {};

TEST_F(SerialOnPty, ReadByteReturnsMinusOneAtOnceWhenIdle) {
    EXPECT_EQ(port->ReadByte(), -1);
    EXPECT_EQ(port->ReadByte(), -1);
}

TEST_F(SerialOnPty, WaitByteTimesOutWithNoData) {
    const auto start = std::chrono::steady_clock::now();
    TSerErr e = Thrown([&] { port->WaitByte(100); });
    EXPECT_EQ(e.Code, 3);
    EXPECT_STREQ(e.Text, "No Data");
    // It waited rather than failing at once.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}

TEST_F(SerialOnPty, WaitByteReturnsAWaitingByteEvenWithZeroTimeout) {
    sim->inject({0x42});
    ASSERT_TRUE(sim->waitOutputDrained(1000));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(port->WaitByte(0), 0x42);
    EXPECT_STREQ(Thrown([&] { port->ReadByteNow(); }).Text, "No Data");
}

TEST_F(SerialOnPty, ReadsBytesInOrderAndSendsExactly) {
    sim->inject({0x00, 0xFF, 0x7F});
    EXPECT_EQ(port->WaitByte(1000), 0x00);
    EXPECT_EQ(port->WaitByte(1000), 0xFF);
    EXPECT_EQ(port->WaitByte(1000), 0x7F);

    const Bytes block = {0x50, 0x50, 0x50, 0xFF, 0x00};
    port->SendChar(0xAA);
    port->SendString(block.data(), static_cast<int>(block.size()));
    ASSERT_TRUE(sim->waitReceived(6, 1000));
    EXPECT_EQ(sim->received(), (Bytes {0xAA, 0x50, 0x50, 0x50, 0xFF, 0x00}));
}

TEST_F(SerialOnPty, ReopeningAnOpenPortClosesItFirst) {
    port->Open();
    EXPECT_TRUE(port->IsOpen);
    sim->inject({0x11});
    EXPECT_EQ(port->WaitByte(1000), 0x11);
}

TEST_F(SerialOnPty, ReopenDiscardsBytesThatArrivedBefore) {
    sim->inject({0x11, 0x22});
    ASSERT_TRUE(sim->waitOutputDrained(1000));
    std::this_thread::sleep_for(20ms);
    port->Open();
    EXPECT_EQ(port->ReadByte(), -1);
}

TEST_F(SerialOnPty, ClosingLeavesThePortFreeForTheNextOpener) {
    // Another descriptor of the terminal stays open all the while (the simulator keeps one, as
    // any other program holding the device may); the exclusive flag must not outlive our close.
    port->Close();
    const int fd = ::open(sim->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    int exclusive = -1;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(fd);
    port->Open();
    EXPECT_TRUE(port->IsOpen);
}

TEST_F(SerialOnPty, OpeningClearsFlowControlAndInputProcessingLeftByOthers) {
    port->Close();
    const int fd = ::open(sim->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios tio {};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    tio.c_iflag |= IXON | IXOFF | IXANY | ICRNL | ISTRIP | INPCK;
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);
    ::close(fd);

    port->Open();
    ASSERT_EQ(::tcgetattr(port->Handle, &tio), 0);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP | INPCK), 0u);
    // XON and XOFF go through as data both ways.
    sim->inject({0x11, 0x13, 0x0D});
    EXPECT_EQ(port->WaitByte(1000), 0x11);
    EXPECT_EQ(port->WaitByte(1000), 0x13);
    EXPECT_EQ(port->WaitByte(1000), 0x0D);
}

TEST_F(SerialOnPty, ALongBurstIsReadWholeAndInOrder) {
    Bytes burst(1000);
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<std::uint8_t>(i * 7);
    sim->inject(burst);
    for (std::size_t i = 0; i < burst.size(); ++i) ASSERT_EQ(port->WaitByte(1000), burst[i]) << i;
    EXPECT_EQ(port->ReadByte(), -1);
}

TEST_F(SerialOnPty, AWakeEndsAnIdleWaitButNotAByteWait) {
    std::thread waker([&] {
        std::this_thread::sleep_for(50ms);
        port->WakeReader();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->ReadByteOrWake(20000), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    waker.join();
    // A byte that waits is still read, wake or not.
    sim->inject({0x5A});
    port->WakeReader();
    int b = port->ReadByteOrWake(1000);
    if (b < 0) b = port->ReadByteOrWake(1000);
    EXPECT_EQ(b, 0x5A);
    // Ordinary waits ignore wake-ups: WaitByte still waits for its byte.
    port->WakeReader();
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        sim->inject({0x33});
    });
    EXPECT_EQ(port->WaitByte(5000), 0x33);
    late.join();
}

TEST_F(SerialOnPty, ASecondOpenerOfTheSamePortIsRefused) {
    TSerCom other(sim->slavePath(), 19200, 8000);
    TSerErr e = Thrown([&] { other.Open(); });
    EXPECT_EQ(e.Code, 1);
    EXPECT_STREQ(e.Text, "Error opening port");
    EXPECT_FALSE(other.IsOpen);
}

TEST_F(SerialOnPty, AHangUpIsAPortErrorNotAnEmptyLine) {
    sim->hangUp();
    EXPECT_STREQ(Thrown([&] { port->ReadByte(); }).Text, "Error reading port");
    // WaitByte must fail too, and at once rather than after its time-out.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_STREQ(Thrown([&] { port->WaitByte(5000); }).Text, "Error reading port");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(SerialOnPty, BaudRateChangesApplyOnAnOpenPortAndUnknownRatesAreRefused) {
    port->SetBaudRate(115200);
    EXPECT_EQ(port->GetBaudRate(), 115200u);
    TSerErr e = Thrown([&] { port->SetBaudRate(12345); });
    EXPECT_EQ(e.Code, 1);
    EXPECT_STREQ(e.Text, "Error setting port parameters (SetCommState)");
}

// A pseudo-terminal reports its output queue empty at once, as some adapters do: the wait must
// still last as long as the line needs for what was written, at the rate it was written at.
TEST_F(SerialOnPty, WaitSentLastsTheLineTimeOfWhatWasWrittenWhenTheDriverCannotTell) {
    port->SetBaudRate(9600);
    const Bytes block(150, 0x55);  // 156 ms at 9600
    const auto start = std::chrono::steady_clock::now();
    port->SendString(block.data(), static_cast<int>(block.size()));
    port->SendChar(0xAA);
    port->SetBaudRate(57600);  // a rate change does not shorten what is already on its way
    EXPECT_TRUE(port->WaitSent(0));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(151 * 10 * 1'000'000LL / 9600));
    EXPECT_NO_THROW(port->EnsureSent(0));
}

TEST(SerialPort, ANumberAbove256FailsWithoutTouchingTheSystem) {
    TSerCom port(257, 19200, 8000);
    TSerErr e = Thrown([&] { port.Open(); });
    EXPECT_EQ(e.Code, 1);
    EXPECT_STREQ(e.Text, "Invalid port number");
    EXPECT_FALSE(port.IsOpen);
}

TEST(SerialPort, AFailedOpenLeavesTheObjectClosedAndReusable) {
    TSerCom port(std::string("/nonexistent/ttyXYZ"), 19200, 8000);
    TSerErr e = Thrown([&] { port.Open(); });
    EXPECT_EQ(e.Code, 1);
    EXPECT_STREQ(e.Text, "Error opening port");
    EXPECT_NE(std::string(e.Detail).find("/nonexistent/ttyXYZ"), std::string::npos);
    EXPECT_FALSE(port.IsOpen);
    port.Close();
    EXPECT_STREQ(Thrown([&] { port.ReadByte(); }).Text, "Error reading port");
    EXPECT_STREQ(Thrown([&] { port.SendChar(1); }).Text, "Error sending char");
    const std::uint8_t b = 1;
    EXPECT_STREQ(Thrown([&] { port.SendString(&b, 1); }).Text, "Error sending string");
}

TEST(SerialPort, SomethingThatIsNotASerialPortFailsAtTheConfigurationRead) {
    TSerCom port(std::string("/dev/null"), 19200, 8000);
    TSerErr e = Thrown([&] { port.Open(); });
    EXPECT_STREQ(e.Text, "Error opening port (DCB Get)");
    EXPECT_FALSE(port.IsOpen);
}

TEST(SerialPort, SetBaudRateOnAClosedPortOnlyStoresIt) {
    TSerCom port(1, 19200, 8000);
    port.SetBaudRate(12345);
    EXPECT_EQ(port.GetBaudRate(), 12345u);
    EXPECT_FALSE(port.IsOpen);
}

TEST(SerialPort, ConstructionSetsTheLineAndRingState) {
    TSerCom port(3, 9600, 8000);
    EXPECT_EQ(port.PortNumber, 3);
    EXPECT_EQ(port.BaudRate, 9600u);
    EXPECT_EQ(port.ByteSize, 8u);
    EXPECT_EQ(port.Parity, 0u);
    EXPECT_EQ(port.StopBits, 0u);
    EXPECT_EQ(port.WaitTimeout, 5000u);
    EXPECT_EQ(port.ReceiveCount, 0u);
    EXPECT_EQ(port.TransmitCount, 0u);
    EXPECT_FALSE(port.IsOpen);
}

// Port numbers resolve through the port folder first, then to the fixed device names.
class PortNumbers : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("VINDELOR_PORT_DIR", folder.c_str(), 1); }
    void TearDown() override { ::unsetenv("VINDELOR_PORT_DIR"); }
    testing::TempDir tmp;
    const std::filesystem::path& folder = tmp.path();
};

TEST_F(PortNumbers, MapToTheFixedDevicesWithoutALink) {
    const std::pair<int, const char*> cases[] = {
        {1, "/dev/ttyS0"},     {12, "/dev/ttyS11"},    {32, "/dev/ttyS31"},
        {33, "/dev/ttyUSB0"},  {63, "/dev/ttyUSB30"},  {64, ""},
        {0, ""},               {-4, ""},               {256, ""},
    };
    for (const auto& [n, path] : cases) EXPECT_EQ(DevicePathForPort(n), path) << "COM" << n;
}

TEST_F(PortNumbers, ALinkInThePortFolderWinsAndOpensTheDeviceBehindIt) {
    sim::RegisterDevice device;
    sim::SimPort simPort(std::shared_ptr<sim::DeviceModel>(&device, [](sim::DeviceModel*) {}));
    sim::LinkPort(folder.string(), 12, simPort.slavePath());
    EXPECT_EQ(DevicePathForPort(12), (folder / "com12").string());

    TSerCom port(12, 19200, 8000);
    port.Open();
    EXPECT_TRUE(port.IsOpen);
    port.SendChar(0x55);
    EXPECT_TRUE(simPort.waitReceived(1, 1000));
}

TEST(PortNames, ParseOnlyCOMAndANumber) {
    EXPECT_EQ(ParsePortName("COM7"), 7);
    EXPECT_EQ(ParsePortName("com63"), 63);
    EXPECT_EQ(ParsePortName("COM"), std::nullopt);
    EXPECT_EQ(ParsePortName("/dev/ttyS0"), std::nullopt);
    EXPECT_EQ(ParsePortName("COM1x"), std::nullopt);
}

TEST(SerialPort, APortWithoutPermissionNamesBothFixes) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens any file; CI runs this test again as an unprivileged user";
    testing::TempDir tmp;
    const std::string path = tmp.write("ttyLOCKED", "");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    TSerCom port(path, 19200, 8000);
    TSerErr e = Thrown([&] { port.Open(); });
    EXPECT_STREQ(e.Text, "Error opening port");
    EXPECT_EQ(std::string(e.Detail), OpenFailureDetail(path, EACCES));
}

// What the open failure tells the user to do, by the system's reason.
TEST(SerialPort, AnOpenFailureSaysWhatToDoAboutIt) {
    struct Case {
        int err;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {EACCES, {"/dev/ttyUSB0: ", "udev rule", "replug", "dialout", "usermod -aG dialout $USER", "log in again"}},
        {EPERM, {"udev rule", "dialout"}},
        {EBUSY, {"Another program is using the port."}},
        {ENOENT, {"/dev/ttyUSB0: "}},
    };
    for (const auto& c : cases) {
        const std::string detail = OpenFailureDetail("/dev/ttyUSB0", c.err);
        for (const auto& part : c.says) EXPECT_NE(detail.find(part), std::string::npos) << c.err << ": " << detail;
        // The whole advice survives in the error value, even after a long device path.
        const std::string longPath = "/home/someone/.config/Kyvane/ports/" + std::string(60, 'x');
        const TSerErr e(TSerErr::Open, "Error opening port", OpenFailureDetail(longPath, c.err).c_str());
        EXPECT_EQ(std::string(e.Detail), OpenFailureDetail(longPath, c.err));
    }
    EXPECT_EQ(OpenFailureDetail("/dev/ttyUSB0", ENOENT).find("dialout"), std::string::npos);
    EXPECT_EQ(OpenFailureDetail("", ENOENT), "No device is known for this port number.");
}

}  // namespace
}  // namespace vindelor::serial
