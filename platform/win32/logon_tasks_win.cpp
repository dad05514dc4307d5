// Log-on tasks on Windows: the Task Scheduler 2.0 interfaces (ITaskService). Each task
// has one log-on trigger for its user, one program to start, and a principal that runs
// it as that user, interactively, with the highest privileges. COM is initialised for
// each operation on the calling thread and every interface is released on every way out.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>

#include "platform/logon_tasks.h"

namespace platform {
namespace {

// The log-on trigger's interface, which the MinGW headers lack: ITrigger's methods, then
// its own four, in the order of the Windows SDK's taskschd.h.
struct LogonTriggerInterface : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
constexpr GUID kLogonTriggerInterface = {0x72DADE38, 0xFAE4, 0x4B3E, {0xBA, 0xF4, 0x5D, 0x00, 0x9A, 0xF0, 0x2B, 0x1C}};

template <typename Interface>
class Com {
 public:
  Com() = default;
  ~Com() { Reset(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }
  Interface** Out() {
    Reset();
    return &pointer_;
  }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

class Apartment {
 public:
  Apartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  // RPC_E_CHANGED_MODE: COM is already up on this thread in another model, usable.
  bool Ready() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// A BSTR made from single-byte text of the ANSI code page.
class Text {
 public:
  explicit Text(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    value_ = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (value_ != nullptr && length > 0) {
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), value_, length);
    }
  }
  ~Text() { SysFreeString(value_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  BSTR Get() const { return value_; }

 private:
  BSTR value_ = nullptr;
};

VARIANT Empty() {
  VARIANT v;
  VariantInit(&v);
  return v;
}

// The scheduler's root folder, or null when the service cannot be reached.
bool RootFolder(Com<ITaskService>& service, Com<ITaskFolder>& folder) {
  if (FAILED(CoCreateInstance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                              reinterpret_cast<void**>(service.Out())))) {
    return false;
  }
  if (FAILED(service->Connect(Empty(), Empty(), Empty(), Empty()))) return false;
  Text root("\\");
  return SUCCEEDED(service->GetFolder(root.Get(), folder.Out()));
}

bool IsMissing(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// Fills `definition` with the trigger, principal, settings and action of `task`.
bool Describe(ITaskDefinition* definition, const LogonTask& task) {
  Text account(task.account);
  Com<IPrincipal> principal;
  if (FAILED(definition->get_Principal(principal.Out())) || FAILED(principal->put_UserId(account.Get())) ||
      FAILED(principal->put_LogonType(TASK_LOGON_INTERACTIVE_TOKEN)) ||
      FAILED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST))) {
    return false;
  }
  Com<ITaskSettings> settings;
  Text noLimit("PT0S");
  if (FAILED(definition->get_Settings(settings.Out())) ||
      FAILED(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_ExecutionTimeLimit(noLimit.Get()))) {
    return false;
  }
  Com<ITriggerCollection> triggers;
  Com<ITrigger> trigger;
  Com<LogonTriggerInterface> logon;
  if (FAILED(definition->get_Triggers(triggers.Out())) || FAILED(triggers->Create(TASK_TRIGGER_LOGON, trigger.Out())) ||
      FAILED(trigger->QueryInterface(kLogonTriggerInterface, reinterpret_cast<void**>(logon.Out()))) ||
      FAILED(logon->put_UserId(account.Get()))) {
    return false;
  }
  Com<IActionCollection> actions;
  Com<IAction> action;
  Com<IExecAction> exec;
  Text path(task.application);
  Text folder(task.workingDirectory);
  return SUCCEEDED(definition->get_Actions(actions.Out())) && SUCCEEDED(actions->Create(TASK_ACTION_EXEC, action.Out())) &&
         SUCCEEDED(action->QueryInterface(__uuidof(IExecAction), reinterpret_cast<void**>(exec.Out()))) &&
         SUCCEEDED(exec->put_Path(path.Get())) && SUCCEEDED(exec->put_WorkingDirectory(folder.Get()));
}

class WinLogonTasks : public LogonTasks {
 public:
  TaskPresence Check(const std::string& name) override {
    Apartment com;
    Com<ITaskService> service;
    Com<ITaskFolder> folder;
    if (!com.Ready() || !RootFolder(service, folder)) return TaskPresence::kUnavailable;
    Text wide(name);
    Com<IRegisteredTask> task;
    const HRESULT result = folder->GetTask(wide.Get(), task.Out());
    if (SUCCEEDED(result)) return TaskPresence::kExists;
    return IsMissing(result) ? TaskPresence::kMissing : TaskPresence::kUnavailable;
  }

  SchedulerResult Register(const LogonTask& task) override {
    Apartment com;
    Com<ITaskService> service;
    Com<ITaskFolder> folder;
    if (!com.Ready() || !RootFolder(service, folder)) return SchedulerResult::kUnavailable;
    Com<ITaskDefinition> definition;
    if (FAILED(service->NewTask(0, definition.Out())) || !Describe(definition.Get(), task)) {
      return SchedulerResult::kFailed;
    }
    Text name(task.name);
    Text account(task.account);
    VARIANT user = Empty();
    user.vt = VT_BSTR;
    user.bstrVal = account.Get();  // borrowed: not cleared
    Com<IRegisteredTask> registered;
    const HRESULT result = folder->RegisterTaskDefinition(name.Get(), definition.Get(), TASK_CREATE_OR_UPDATE, user,
                                                          Empty(), TASK_LOGON_INTERACTIVE_TOKEN, Empty(),
                                                          registered.Out());
    return SUCCEEDED(result) ? SchedulerResult::kDone : SchedulerResult::kFailed;
  }

  SchedulerResult Remove(const std::string& name) override {
    Apartment com;
    Com<ITaskService> service;
    Com<ITaskFolder> folder;
    if (!com.Ready() || !RootFolder(service, folder)) return SchedulerResult::kUnavailable;
    Text wide(name);
    const HRESULT result = folder->DeleteTask(wide.Get(), 0);
    if (SUCCEEDED(result)) return SchedulerResult::kDone;
    return IsMissing(result) ? SchedulerResult::kMissing : SchedulerResult::kFailed;
  }
};

}  // namespace

LogonTasks& SystemLogonTasks() {
  static WinLogonTasks tasks;
  return tasks;
}

}  // namespace platform
