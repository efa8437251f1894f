#include "agent/actions/trap_handoff.h"

#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>

#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "core/adapters/snmp.h"

// The AgentX sub-agent's session with the master and its (re)opening, from net-snmp's agent
// library (exported, but declared only in a header that the development package leaves out).
extern "C" int subagent_open_master_session(void);
extern netsnmp_session* main_session;

namespace {

constexpr const char* kAppName = "vigil";
// The enterprise of traps that carry none.
constexpr oid kUpsTrapsEnterprise[] = {1, 3, 6, 1, 2, 1, 33, 2};

// Set while the worker retries the connection: a master that is still away is reported once
// (Publish), not at every try.
std::atomic<bool> g_quiet{false};

int LogToTrace(int, int, void* serverArgument, void*) {
  if (g_quiet.load()) return 0;
  const auto* message = static_cast<const snmp_log_message*>(serverArgument);
  if (message != nullptr && message->msg != nullptr) Diag() << "net-snmp: " << message->msg;
  return 0;
}

}  // namespace

std::unique_ptr<KT_TrapHandoff> KT_TrapHandoff::Start(KT_SCP& scp, const std::string& agentxSocket) {
  bool subagent = false;
  if (netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_HAVE_READ_CONFIG)) {
    Diag() << "KT_TrapHandoff: the SNMP library is already started, traps go out directly\n";
  } else {
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    if (!agentxSocket.empty()) {
      netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, agentxSocket.c_str());
    }
    // net-snmp's own messages (a master that is not there, ...) go to the agent's trace, not
    // to standard error.
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, LogToTrace, nullptr);
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_WARNING);
    init_agent(kAppName);
    subagent = true;
  }
  // Starts the library (once); in the sub-agent role this also connects to the master.
  KT_SNMP::Initialize(&scp);
  return std::unique_ptr<KT_TrapHandoff>(new KT_TrapHandoff(scp, subagent));
}

KT_TrapHandoff::KT_TrapHandoff(KT_SCP& scp, bool subagent) : scp_(scp), subagent_(subagent) {
  if (subagent_) {
    Publish(main_session != nullptr);
    // The worker takes no signals: they belong to the program's signal handling.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    thread_ = std::thread([this] { Run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  } else {
    Publish(false);
  }
}

KT_TrapHandoff::~KT_TrapHandoff() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  scp_.ClearFlag(SCP_FLAG_SNMP_SERVICE);
}

void KT_TrapHandoff::Publish(bool connected) {
  bool changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = connected != connected_;
    connected_ = connected;
  }
  if (connected) {
    scp_.SetFlag(SCP_FLAG_SNMP_SERVICE);
  } else {
    scp_.ClearFlag(SCP_FLAG_SNMP_SERVICE);
  }
  if (changed) {
    Diag() << (connected ? "KT_TrapHandoff: connected to the system SNMP service\n"
                         : "KT_TrapHandoff: the system SNMP service is not reachable\n");
  }
}

bool KT_TrapHandoff::IsAvailable() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_ && !stop_;
}

int KT_TrapHandoff::PostTrap(void* session, netsnmp_pdu* trap) {
  if (session == nullptr || trap == nullptr || trap->trap_type != SNMP_TRAP_ENTERPRISESPECIFIC) return 0;
  if (trap->specific_type < 1 || trap->specific_type > 4) return 0;
  if (!IsAvailable()) return 0;
  Trap copy;
  if (trap->enterprise != nullptr && trap->enterprise_length > 0) {
    copy.enterprise.assign(trap->enterprise, trap->enterprise + trap->enterprise_length);
  } else {
    copy.enterprise.assign(std::begin(kUpsTrapsEnterprise), std::end(kUpsTrapsEnterprise));
  }
  copy.specific = trap->specific_type;
  for (netsnmp_variable_list* v = trap->variables; v != nullptr; v = v->next_variable) {
    if (v->name == nullptr || v->name_length > kMaxOidLength) return 0;
    Variable var;
    var.name.assign(v->name, v->name + v->name_length);
    var.type = v->type;
    if (v->val.string != nullptr && v->val_len > 0) {
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>(v->val.string);
      var.value.assign(bytes, bytes + v->val_len);
    }
    copy.variables.push_back(std::move(var));
  }
  if (copy.variables.empty()) return 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kMaxQueued) return 0;
    queue_.push_back(std::move(copy));
  }
  wake_.notify_all();
  return 1;
}

void KT_TrapHandoff::SendOne(const Trap& trap) {
  netsnmp_variable_list* vars = nullptr;
  for (const Variable& v : trap.variables) {
    if (snmp_varlist_add_variable(&vars, v.name.data(), v.name.size(), v.type,
                                  v.value.empty() ? nullptr : v.value.data(), v.value.size()) == nullptr) {
      Diag() << "KT_TrapHandoff: a variable cannot be copied, trap not sent\n";
      snmp_free_varbind(vars);
      return;
    }
  }
  send_enterprise_trap_vars(SNMP_TRAP_ENTERPRISESPECIFIC, static_cast<int>(trap.specific),
                            const_cast<oid*>(trap.enterprise.data()), static_cast<int>(trap.enterprise.size()), vars);
  snmp_free_varbind(vars);
  Diag() << "KT_TrapHandoff: trap " << static_cast<long>(trap.specific) << " handed to the system SNMP service\n";
}

void KT_TrapHandoff::Run() {
  auto nextTry = std::chrono::steady_clock::now() + std::chrono::seconds(kRetrySeconds);
  for (;;) {
    std::deque<Trap> work;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_ || !queue_.empty(); });
      if (stop_) break;
      work.swap(queue_);
      sending_ = !work.empty();
    }
    // Answers of the master; a master that went away closes the session here.
    agent_check_and_process(0);
    if (main_session == nullptr && std::chrono::steady_clock::now() >= nextTry) {
      g_quiet.store(true);
      subagent_open_master_session();
      g_quiet.store(false);
      nextTry = std::chrono::steady_clock::now() + std::chrono::seconds(kRetrySeconds);
    }
    const bool connected = main_session != nullptr;
    Publish(connected);
    for (const Trap& trap : work) {
      if (connected) SendOne(trap);
    }
    if (!work.empty()) agent_check_and_process(0);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (connected) sent_count_ += work.size();
      sending_ = false;
    }
    sent_.notify_all();
  }
  // The session stays with the library: shutting the library down here would end the
  // adapter clients' sessions too.
}

bool KT_TrapHandoff::WaitUntilSent(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return sent_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return queue_.empty() && !sending_; });
}

uint64_t KT_TrapHandoff::SentCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_count_;
}
