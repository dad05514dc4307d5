// The scheduler on Windows: the Task Scheduler 1.0 COM interfaces (mstask). Every
// operation initialises COM on the calling thread (single-threaded apartment) and
// uninitialises it again; every interface is released on every way out.
#include <windows.h>
#include <mstask.h>
#include <objbase.h>

#include "platform/scheduler.h"

namespace platform {
namespace {

// The Task Scheduler 1.0 class and interfaces, named here so no import library of
// GUIDs is needed.
constexpr GUID kTaskSchedulerClass = {0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr GUID kTaskSchedulerInterface = {0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr GUID kTaskClass = {0x148BD520, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr GUID kTaskInterface = {0x148BD524, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr GUID kPersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A COM interface pointer, released when it goes.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface** Out() {
    Reset();
    return &pointer_;
  }
  IUnknown** OutUnknown() { return reinterpret_cast<IUnknown**>(Out()); }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

// COM for the length of one operation on this thread.
class ComApartment {
 public:
  ComApartment() : result_(CoInitialize(nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool Ready() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// Wide text of single-byte text in the ANSI code page; always terminated.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  if (text == nullptr || text[0] == L'\0') return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
  if (length > 0) WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

// A text a task getter hands over (allocated by COM), taken over and freed.
std::string TakeText(HRESULT result, wchar_t* text) {
  std::string narrow = SUCCEEDED(result) ? Narrow(text) : std::string();
  if (text != nullptr) CoTaskMemFree(text);
  return narrow;
}

bool CreateScheduler(ComPtr<ITaskScheduler>& scheduler) {
  return SUCCEEDED(CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskSchedulerInterface,
                                    scheduler.OutVoid()));
}

class TaskScheduler1 : public Scheduler {
 public:
  TaskPresence Check(const std::string& name) override {
    ComApartment com;
    if (!com.Ready()) return TaskPresence::kUnavailable;
    ComPtr<ITaskScheduler> scheduler;
    if (!CreateScheduler(scheduler)) return TaskPresence::kUnavailable;
    ComPtr<ITask> task;
    const HRESULT found = scheduler->Activate(Wide(name).c_str(), kTaskInterface, task.OutUnknown());
    return SUCCEEDED(found) ? TaskPresence::kExists : TaskPresence::kMissing;
  }

  SchedulerResult Create(const DailyTask& settings, bool edit) override {
    ComApartment com;
    if (!com.Ready()) return SchedulerResult::kUnavailable;
    ComPtr<ITaskScheduler> scheduler;
    if (!CreateScheduler(scheduler)) return SchedulerResult::kUnavailable;
    ComPtr<ITask> task;
    const HRESULT made =
        scheduler->NewWorkItem(Wide(settings.name).c_str(), kTaskClass, kTaskInterface, task.OutUnknown());
    scheduler.Reset();
    if (FAILED(made)) {
      return made == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) ? SchedulerResult::kExists : SchedulerResult::kFailed;
    }
    // The settings: a refused one leaves the scheduler's default, as the user may
    // change any of them in the editor anyway.
    task->SetAccountInformation(Wide(settings.account).c_str(), nullptr);
    task->SetComment(Wide(settings.comment).c_str());
    task->SetApplicationName(Wide(settings.application).c_str());
    task->SetParameters(Wide(settings.parameters).c_str());
    task->SetWorkingDirectory(Wide(settings.workingDirectory).c_str());
    task->SetFlags(settings.flags);
    WORD triggerIndex = 0;
    ComPtr<ITaskTrigger> trigger;
    if (SUCCEEDED(task->CreateTrigger(&triggerIndex, trigger.Out()))) {
      TASK_TRIGGER record;
      ZeroMemory(&record, sizeof record);
      record.cbTriggerSize = sizeof record;
      record.wBeginYear = settings.beginYear;
      record.wBeginMonth = settings.beginMonth;
      record.wBeginDay = settings.beginDay;
      record.wStartHour = settings.startHour;
      record.wStartMinute = settings.startMinute;
      record.TriggerType = TASK_TIME_TRIGGER_DAILY;
      record.Type.Daily.DaysInterval = settings.daysInterval;
      trigger->SetTrigger(&record);
    }
    trigger.Reset();
    if (edit) task->EditWorkItem(nullptr, 0);
    ComPtr<IPersistFile> file;
    if (FAILED(task->QueryInterface(kPersistFileInterface, file.OutVoid()))) return SchedulerResult::kFailed;
    task.Reset();
    return SUCCEEDED(file->Save(nullptr, TRUE)) ? SchedulerResult::kDone : SchedulerResult::kFailed;
  }

  SchedulerResult Edit(const std::string& name) override {
    ComApartment com;
    if (!com.Ready()) return SchedulerResult::kUnavailable;
    ComPtr<ITaskScheduler> scheduler;
    if (!CreateScheduler(scheduler)) return SchedulerResult::kUnavailable;
    ComPtr<ITask> task;
    const HRESULT found = scheduler->Activate(Wide(name).c_str(), kTaskInterface, task.OutUnknown());
    scheduler.Reset();
    if (FAILED(found)) return SchedulerResult::kMissing;
    task->EditWorkItem(nullptr, 0);
    return SchedulerResult::kDone;
  }

  SchedulerResult Remove(const std::string& name) override {
    ComApartment com;
    if (!com.Ready()) return SchedulerResult::kUnavailable;
    ComPtr<ITaskScheduler> scheduler;
    if (!CreateScheduler(scheduler)) return SchedulerResult::kUnavailable;
    const HRESULT deleted = scheduler->Delete(Wide(name).c_str());
    if (SUCCEEDED(deleted)) return SchedulerResult::kDone;
    return deleted == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? SchedulerResult::kMissing : SchedulerResult::kFailed;
  }

  std::optional<DailyTask> Read(const std::string& name) override {
    ComApartment com;
    if (!com.Ready()) return std::nullopt;
    ComPtr<ITaskScheduler> scheduler;
    if (!CreateScheduler(scheduler)) return std::nullopt;
    ComPtr<ITask> task;
    if (FAILED(scheduler->Activate(Wide(name).c_str(), kTaskInterface, task.OutUnknown()))) return std::nullopt;
    scheduler.Reset();
    DailyTask settings;
    settings.name = name;
    wchar_t* text = nullptr;
    HRESULT result = task->GetComment(&text);
    settings.comment = TakeText(result, text);
    text = nullptr;
    result = task->GetAccountInformation(&text);
    settings.account = TakeText(result, text);
    text = nullptr;
    result = task->GetApplicationName(&text);
    settings.application = TakeText(result, text);
    text = nullptr;
    result = task->GetParameters(&text);
    settings.parameters = TakeText(result, text);
    text = nullptr;
    result = task->GetWorkingDirectory(&text);
    settings.workingDirectory = TakeText(result, text);
    DWORD flags = 0;
    if (SUCCEEDED(task->GetFlags(&flags))) settings.flags = flags;
    ComPtr<ITaskTrigger> trigger;
    if (SUCCEEDED(task->GetTrigger(0, trigger.Out()))) {
      TASK_TRIGGER record;
      ZeroMemory(&record, sizeof record);
      record.cbTriggerSize = sizeof record;
      if (SUCCEEDED(trigger->GetTrigger(&record))) {
        settings.beginYear = record.wBeginYear;
        settings.beginMonth = record.wBeginMonth;
        settings.beginDay = record.wBeginDay;
        settings.startHour = record.wStartHour;
        settings.startMinute = record.wStartMinute;
        settings.daysInterval = record.TriggerType == TASK_TIME_TRIGGER_DAILY ? record.Type.Daily.DaysInterval : 0;
      }
    }
    return settings;
  }

};

static_assert(sizeof(TASK_TRIGGER) == 48, "the trigger record the Task Scheduler takes");

}  // namespace

Scheduler& SystemScheduler() {
  static TaskScheduler1 scheduler;
  return scheduler;
}

}  // namespace platform

namespace platform {

std::string CurrentUserName() {
  char name[256] = {};
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size)) return {};
  name[sizeof name - 1] = '\0';
  return name;
}

}  // namespace platform
