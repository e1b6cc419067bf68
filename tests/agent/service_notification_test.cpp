#include "agent/service_notification.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "agent/agent_config.h"
#include "base/unique_handle_win.h"
#include "child_process_win.h"
#include "test_files.h"
#include "test_log.h"

namespace vx {
namespace {

// A service of the test program (VX_TEST_SERVICE_PROGRAM) installed under a name of its own, which
// records the control codes it receives in a file. Removed again when the object goes.
class TestService {
 public:
  explicit TestService(bool start) : name_(L"vxtest-notify-" + std::to_wstring(::GetCurrentProcessId())) {
    manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::wstring command =
        L"\"" + Wide(test::WindowsPathOf(VX_TEST_SERVICE_PROGRAM)) + L"\" \"" + Wide(record_file().string()) + L"\"";
    service_.reset(::CreateServiceW(manager_.get(), name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                    command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service_ && start && ::StartServiceW(service_.get(), 0, nullptr)) WaitFor(SERVICE_RUNNING);
  }
  ~TestService() {
    SERVICE_STATUS status{};
    if (::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) WaitFor(SERVICE_STOPPED);
    ::DeleteService(service_.get());
  }

  [[nodiscard]] bool installed() const { return static_cast<bool>(service_); }
  [[nodiscard]] DWORD state() const {
    SERVICE_STATUS status{};
    return ::QueryServiceStatus(service_.get(), &status) ? status.dwCurrentState : 0;
  }
  [[nodiscard]] const std::wstring& name() const { return name_; }
  [[nodiscard]] std::filesystem::path record_file() const { return directory_.path() / "controls.txt"; }

 private:
  static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

  // Polls the service's state, with a deadline, after a start or stop request.
  void WaitFor(DWORD wanted) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (state() != wanted && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  std::wstring name_;
  test::TempDirectory directory_;
  UniqueServiceHandle manager_;
  UniqueServiceHandle service_;
};

TEST(ServiceNotificationTest, UnknownServiceIsNotNotified) {
  test::ScopedTestLog log;
  EXPECT_EQ(SendServiceMsg(kResourceIdStoredControl, L"vxtest-no-such-service"), 0);
  EXPECT_TRUE(log.Has("[ERROR]", "SendServiceMsg : Failed to open the Service"));
  EXPECT_EQ(log.Messages().size(), 1u);
}

TEST(ServiceNotificationTest, RunningServiceReceivesTheControlCode) {
  TestService service(true);
  ASSERT_TRUE(service.installed());
  ASSERT_EQ(service.state(), static_cast<DWORD>(SERVICE_RUNNING));
  test::ScopedTestLog log;

  EXPECT_EQ(SendServiceMsg(kResourceIdStoredControl, service.name().c_str()), 1);
  const std::string narrow_name(service.name().begin(), service.name().end());
  EXPECT_TRUE(log.Has("[INFO]", "SendServiceMsg : Service " + narrow_name + " Opened successfully"));
  EXPECT_TRUE(log.Has("[INFO]", "SendServiceMsg : Notification is succeeded"));

  // The agent's own service name from the configuration record; none loaded means no notification.
  const OptionalText saved = gv_agentServiceName;
  gv_agentServiceName = narrow_name;
  EXPECT_EQ(NotifyAgentService(200), 1);
  gv_agentServiceName.reset();
  EXPECT_EQ(NotifyAgentService(201), 0);
  gv_agentServiceName = saved;

  // The handler records synchronously, before ControlService returns.
  EXPECT_EQ(test::ReadWholeFile(service.record_file()), "147\n200\n");
}

TEST(ServiceNotificationTest, StoppedServiceRefusesTheControl) {
  TestService service(false);
  ASSERT_TRUE(service.installed());
  test::ScopedTestLog log;
  EXPECT_EQ(SendServiceMsg(kResourceIdStoredControl, service.name().c_str()), 0);
  EXPECT_TRUE(log.Has("[ERROR]", "SendServiceMsg : Notification failed 1062 "));  // not active
}

}  // namespace
}  // namespace vx
