#include "netcomp/Psock.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "framework/Forms.h"

namespace {

// Components that have started Winsock; the last one to go stops it.
int WinsockUsers = 0;

struct TErrorEntry {
  int32_t Code;
  const char* Text;
};

constexpr TErrorEntry ErrorTable[51] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
    {0, "Unrecognized error code"},
};

constexpr int MaxLine = 65536;
// Timer of the socket window that wakes a send waiting for buffer space: no notification is
// registered for that.
constexpr win::UINT_PTR SendSpaceTimer = 2;
constexpr win::UINT SendSpaceRetryMs = 10;

win::LRESULT CALLBACK SocketWindowProc(win::HWND hWnd, win::UINT Msg, win::WPARAM wParam,
                                       win::LPARAM lParam) {
  auto* sock = reinterpret_cast<TPowersock*>(win::GetWindowLongPtrA(hWnd, 0));
  if (!sock || Msg < TPowersock::SocketMessage)
    return win::DefWindowProcA(hWnd, Msg, wParam, lParam);
  TSockMessage message{Msg, wParam, lParam, 0};
  sock->HandleSocketMessage(message);
  return message.Result;
}

win::LRESULT CALLBACK TimerWindowProc(win::HWND hWnd, win::UINT Msg, win::WPARAM wParam,
                                      win::LPARAM lParam) {
  auto* timer = reinterpret_cast<TThreadTimer*>(win::GetWindowLongPtrA(hWnd, 0));
  if (!timer) return win::DefWindowProcA(hWnd, Msg, wParam, lParam);
  TSockMessage message{Msg, wParam, lParam, 0};
  if (Msg != WM_ACTIVATEAPP) timer->WndProc(message);
  return message.Result;
}

// The owner is kept in the window's first extra bytes; they hold a whole pointer.
win::HWND CreateHiddenWindow(const char* className, win::WNDPROC proc, void* owner) {
  win::HINSTANCE instance = win::GetModuleHandleA(nullptr);
  win::WNDCLASSA cls{};
  if (!win::GetClassInfoA(instance, className, &cls)) {
    cls = {};
    cls.style = 0;
    cls.lpfnWndProc = proc;
    cls.cbWndExtra = sizeof(win::LONG_PTR);
    cls.hInstance = instance;
    cls.lpszClassName = className;
    if (!win::RegisterClassA(&cls)) return nullptr;
  }
  // Message-only: these windows never show, and need no desktop to exist.
  win::HWND window = win::CreateWindowExA(WS_EX_TOOLWINDOW, className, "", WS_POPUP, 0, 0, 0, 0,
                                          HWND_MESSAGE, nullptr, instance, nullptr);
  if (window) win::SetWindowLongPtrA(window, 0, reinterpret_cast<win::LONG_PTR>(owner));
  return window;
}

uint16_t FitHandle(win::SOCKET s) {
  if (s > 0xFFFF) throw ERangeError();
  return static_cast<uint16_t>(s);
}

// Arms a timer on the socket window while a send waits for buffer space.
class TSendSpaceWait {
public:
  explicit TSendSpaceWait(win::HWND window) : window_(window) {}
  ~TSendSpaceWait() {
    if (armed_) win::KillTimer(window_, SendSpaceTimer);
  }
  void Arm() {
    if (!armed_) armed_ = win::SetTimer(window_, SendSpaceTimer, SendSpaceRetryMs, nullptr) != 0;
  }

private:
  win::HWND window_;
  bool armed_ = false;
};

// Watches one wait for the idle limit while it lives.
class TIdleWatch {
public:
  explicit TIdleWatch(TPowersock& sock) : sock_(sock) { sock_.IdleOn(); }
  ~TIdleWatch() { sock_.IdleOff(); }
  TIdleWatch(const TIdleWatch&) = delete;
  TIdleWatch& operator=(const TIdleWatch&) = delete;

private:
  TPowersock& sock_;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// TThreadTimer

TThreadTimer::TThreadTimer(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = CreateHiddenWindow("TmrWindowClass", TimerWindowProc, this);
  // Without its window the timer would never tick and a wait on it would never end.
  if (!FWindowHandle) throw Exception("No Timer");
}

TThreadTimer::~TThreadTimer() {
  FEnabled = false;
  try {
    UpdateTimer();
  } catch (...) {
  }
  if (FWindowHandle) win::DestroyWindow(FWindowHandle);
}

void TThreadTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t Value) {
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value) {
  FOnTimer = std::move(Value);
  UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
  win::KillTimer(FWindowHandle, 1);
  if (FInterval != 0 && FEnabled && FOnTimer) {
    if (win::SetTimer(FWindowHandle, 1, FInterval, nullptr) == 0) throw Exception("No Timer");
  }
}

void TThreadTimer::Timer() {
  if (FOnTimer) FOnTimer(this);
}

void TThreadTimer::WndProc(TSockMessage& Message) {
  if (Message.Msg == WM_TIMER) {
    try {
      Timer();
    } catch (...) {
      Application->HandleException(this);
    }
    return;
  }
  Message.Result = win::DefWindowProcA(FWindowHandle, Message.Msg, Message.WParam, Message.LParam);
}

// ---------------------------------------------------------------------------------------------
// TPowersock: life cycle

TPowersock::TPowersock(TComponent* AOwner) : TComponent(AOwner) {
  ReportStatus(8, "Create");
  SocketWindow = CreateHiddenWindow("PsockWindowClass", SocketWindowProc, this);
  // No notification could ever arrive: every wait would hang.
  if (!SocketWindow) throw ESockError("Initializaton of windows sockets failed");
  try {
    Proxy.clear();
    HostEntryBuffer = std::make_unique<char[]>(HostEntryBufferSize);
    SockStream = std::make_unique<TSockStream>(*this);
    TimeOutTimer = std::make_unique<TThreadTimer>(this);
    TimeOutTimer->SetEnabled(false);
    TimeOutTimer->SetOnTimer([this](TObject* Sender) { TimerTriggered(Sender); });
    IdleTimer = std::make_unique<TThreadTimer>(this);
    IdleTimer->SetEnabled(false);
    IdleTimer->SetOnTimer([this](TObject*) { IdleTriggered(); });
    TimeOut = 0;
    WinsockInfo = std::make_unique<TStringList>();
    Canceled = false;
    ShuttingDown = false;
    Connected = false;
    InitializeWinsock();
  } catch (...) {
    if (SocketWindow) win::DestroyWindow(SocketWindow);
    throw;
  }
}

TPowersock::~TPowersock() {
  Destroying();
  ReportStatus(8, "Destroy");
  try {
    Abort();
    Cancel();
  } catch (...) {
  }
  // A lookup still running would otherwise write into the buffer released here.
  if (LookupTask) win::WSACancelAsyncRequest(LookupTask);
  LookupTask = nullptr;
  WinsockInfo.reset();
  TimeOutTimer.reset();
  IdleTimer.reset();
  HostEntryBuffer.reset();
  if (SocketWindow) win::DestroyWindow(SocketWindow);
  SocketWindow = nullptr;
  ShuttingDown = true;
  if (!IsDesigning()) {
    try {
      RequestCloseSocket();
    } catch (...) {
    }
    if (--WinsockUsers == 0) win::WSACleanup();
  }
}

void TPowersock::InitializeWinsock() {
  ReportStatus(8, "Initializing Winsock");
  if (IsDesigning()) return;
  try {
    ++WinsockUsers;
    if (WinsockUsers == 1) {
      win::WSAStartup(MAKEWORD(1, 1), &WSAData);
      auto version = [](win::WORD v) { return IntToStr(v >> 8) + "." + IntToStr(v & 0xFF); };
      WinsockInfo->Add("Version= " + version(WSAData.wVersion));
      WinsockInfo->Add("High Version= " + version(WSAData.wHighVersion));
      WinsockInfo->Add("Description= " +
                       std::string(WSAData.szDescription,
                                   strnlen(WSAData.szDescription, sizeof WSAData.szDescription)));
      WinsockInfo->Add("System= " +
                       std::string(WSAData.szSystemStatus,
                                   strnlen(WSAData.szSystemStatus, sizeof WSAData.szSystemStatus)));
      WinsockInfo->Add("Max Sockets= " + IntToStr(WSAData.iMaxSockets));
      WinsockInfo->Add("Max Udp pack size= " + IntToStr(WSAData.iMaxUdpDg));
    }
    try {
      if (!OpenSocket(IPPROTO_TCP, true)) CheckSocketError(WSAEWOULDBLOCK);
      if (SocketHandle == NoSocket) throw ESockError("no socket");
    } catch (...) {
      if (--WinsockUsers == 0) win::WSACleanup();
      throw;
    }
  } catch (...) {
    throw ESockError("Initializaton of windows sockets failed");
  }
}

bool TPowersock::OpenSocket(int Protocol, bool Linger) {
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, Protocol);
  if (s != INVALID_SOCKET && s > 0xFFFF) {
    win::closesocket(s);
    throw ERangeError();
  }
  SocketHandle = FitHandle(s);
  if (Linger) {
    // Closing the first socket resets its connection.
    win::linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    win::setsockopt(SocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                    sizeof l);
  }
  return win::WSAAsyncSelect(SocketHandle, SocketWindow, SocketMessage, SocketEventMask) == 0;
}

// ---------------------------------------------------------------------------------------------
// Status, errors, notifications

void TPowersock::ReportStatus(uint8_t Level, const std::string& Text) {
  if (Level > ReportLevel) return;
  try {
    Status = Text;
    if (!IsDestroying() && OnStatus) OnStatus(this, Status);
  } catch (...) {
  }
}

std::string TPowersock::LookupErrorMessage(uint16_t ErrorCode) {
  ReportStatus(8, "Looking Up Error Message");
  std::string text;
  if (ErrorCode == 0) return text;
  for (const TErrorEntry& entry : ErrorTable)
    if (entry.Code == ErrorCode) text = IntToStr(ErrorCode) + ":" + entry.Text;
  if (text.empty()) text = "Unknown Error No. " + IntToStr(ErrorCode);
  return text;
}

void TPowersock::CheckSocketError(uint16_t Ignore) {
  int err = win::WSAGetLastError();
  LastErrorNo = err;
  if (err != Ignore && err > 10000) {
    std::string text = LookupErrorMessage(static_cast<uint16_t>(err));
    if (OnSocketError) OnSocketError(this, static_cast<uint16_t>(err), text);
    throw ESockError(text);
  }
}

void TPowersock::HandleSocketMessage(TSockMessage& Message) {
  try {
    if (Message.Msg == HostLookupMessage &&
        reinterpret_cast<win::HANDLE>(Message.WParam) != LookupTask)
      return; // the reply of a lookup that was given up
    EventOk = HIWORD(Message.LParam) == 0;
    if (Message.Msg == SocketMessage) {
      switch (LOWORD(Message.LParam)) {
      case FD_READ:
        if (OnReadReady) {
          try {
            OnReadReady(this);
          } catch (...) {
          }
        }
        break;
      case FD_ACCEPT:
        Connected = true;
        if (OnAcceptReady) OnAcceptReady(this);
        break;
      case FD_CONNECT:
        if (EventOk) {
          Connected = true;
          if (OnConnect) OnConnect(this);
        }
        break;
      case FD_CLOSE:
        if (!DataAvailable()) {
          CloseErrorNo = HIWORD(Message.LParam);
          RequestCloseSocket();
        }
        break;
      default:
        break;
      }
    } else if (Message.Msg == HostLookupMessage) {
      LookupErrorNo = HIWORD(Message.LParam);
      LookupTask = nullptr;
      LookupDone = true;
    }
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------------
// Connection

void TPowersock::PumpMessages(bool WaitForMessage) {
  if (WaitForMessage)
    Application->HandleMessage();
  else
    Application->ProcessMessages();
}

void TPowersock::ResolveHost() {
  ReportStatus(8, "Resolve Host");
  RemoteAddress.sin_addr.s_addr = 0;
  const std::string& name = Proxy.empty() ? Host : Proxy;
  if (name.size() >= TransferBuffer.size()) throw ESockError("Host name too long");
  std::memcpy(TransferBuffer.data(), name.data(), name.size());
  TransferBuffer[name.size()] = '\0';

  win::u_long address = win::inet_addr(TransferBuffer.data());
  if (address != INADDR_NONE) {
    RemoteAddress.sin_addr.s_addr = address;
    return;
  }
  RemoteAddress.sin_addr.s_addr = 0;
  TimerOn();
  TIdleWatch idle(*this);
  LookupDone = false;
  LookupErrorNo = 0;
  LookupTask = win::WSAAsyncGetHostByName(SocketWindow, HostLookupMessage, TransferBuffer.data(),
                                          HostEntryBuffer.get(), HostEntryBufferSize);
  if (!LookupTask) {
    TimerOff();
    throw ESockError("Host Lookup Failed");
  }
  Application->ProcessMessages();
  while (!LookupDone && !TimedOut && !Canceled)
    PumpMessages(true);
  TimerOff();
  if (LookupTask) {
    // Given up: its reply must not land in the buffer later.
    win::WSACancelAsyncRequest(LookupTask);
    LookupTask = nullptr;
  }
  if (TimedOut || IdleTimedOut) throw ESockError("Host Lookup Timed Out");
  if (Canceled) throw ESockError("Host Lookup Canceled");
  if (!EventOk) throw ESockError("Host Lookup Failed");

  auto* entry = reinterpret_cast<const win::hostent*>(HostEntryBuffer.get());
  if (!entry->h_addr_list || !entry->h_addr_list[0]) throw ESockError("Host Lookup Failed");
  std::memcpy(&RemoteAddress.sin_addr.s_addr, entry->h_addr_list[0], 4);
  if (OnHostResolved) OnHostResolved(this);
}

void TPowersock::Connect() {
  ReportStatus(8, "Connecting");
  Canceled = false;
  if (Connected) throw ESockError("Already connected");
  CloseErrorNo = 0;
  SockStream->Reset();

  int attempts = 0;
  while (true) {
    try {
      ResolveHost();
    } catch (const ESockError& e) {
      if (e.Message == "Host Lookup Timed Out" || e.Message == "Host Lookup Canceled") throw;
    }
    if (RemoteAddress.sin_addr.s_addr != 0) break;
    if (attempts > 0 || !OnInvalidHost) throw ESockError("Null Remote Address");
    bool Handled = false;
    OnInvalidHost(Handled);
    if (!Handled) throw ESockError("Null Remote Address");
    ++attempts;
  }

  RemoteAddress.sin_family = AF_INET;
  int32_t port = Proxy.empty() ? Port : ProxyPort;
  RemoteAddress.sin_port = win::htons(static_cast<win::u_short>(port & 0xFFFF));
  LookupDone = false;
  EventOk = true;
  if (win::connect(SocketHandle, reinterpret_cast<const win::sockaddr*>(&RemoteAddress),
                   sizeof RemoteAddress) == SOCKET_ERROR)
    CheckSocketError(WSAEWOULDBLOCK);

  TimerOn();
  {
    TIdleWatch idle(*this);
    Application->ProcessMessages();
    while (!Connected && !TimedOut && !Canceled && EventOk)
      PumpMessages(true);
    if (!TimedOut && !Canceled && EventOk && !SecureHost.empty()) {
      // A connection without its session is of no use: a failed Connect leaves none.
      auto drop = [this] {
        try {
          RequestCloseSocket();
        } catch (...) {
        }
      };
      try {
        StartSecureSession();
      } catch (...) {
        TimerOff();
        drop();
        throw;
      }
      if (TimedOut || Canceled) drop();
    }
  }
  TimerOff();
  if (!TimedOut && !Canceled && EventOk) return;

  if (OnConnectionFailed) OnConnectionFailed(this);
  if (TimedOut || IdleTimedOut) throw ESockError("Connection Timed out");
  if (Canceled) throw ESockError("Connection Canceled");
  throw ESockError("Connection Failed");
}

// The handshake is part of the connect: the same deadline, idle limit and Cancel end it, and it
// ends the same way when they do.
void TPowersock::StartSecureSession() {
  ReportStatus(8, "Starting TLS");
  SockStream->StartTls(SecureHost);
  TSendSpaceWait spaceWait(SocketWindow);
  for (;;) {
    const TSockStream::TStep step = SockStream->Handshake();
    if (step == TSockStream::TStep::Done) return;
    if (step == TSockStream::TStep::WaitSend) spaceWait.Arm();
    PumpMessages(step != TSockStream::TStep::Progress);
    if (TimedOut || Canceled) return;
  }
}

void TPowersock::Disconnect() {
  ReportStatus(8, "Disconnecting");
  // The server learns that nothing was cut, if the socket takes it at once.
  if (Connected) SockStream->CloseTls();
  RequestCloseSocket();
}

void TPowersock::RequestCloseSocket() {
  ReportStatus(4, "Request Close Socket");
  Connected = false;
  if (SocketHandle == NoSocket) return;
  if (win::closesocket(SocketHandle) == SOCKET_ERROR) {
    CheckSocketError(WSAEWOULDBLOCK);
    return;
  }
  // The closed handle must not be used again, also when OnDisconnect raises.
  SocketHandle = NoSocket;
  // Windows hands the same handle to the next socket at once: a notification still queued for
  // this one would act on the new connection.
  win::MSG stale;
  while (SocketWindow &&
         win::PeekMessageA(&stale, SocketWindow, SocketMessage, SocketMessage, PM_REMOVE)) {
  }
  auto reopen = [this] {
    if (!ShuttingDown) OpenSocket(0, false);
  };
  try {
    if (!IsDestroying() && OnDisconnect) OnDisconnect(this);
  } catch (...) {
    reopen();
    throw;
  }
  reopen();
}

bool TPowersock::DataAvailable() {
  ReportStatus(8, "Data Available");
  // Peeks into a byte of its own: TransferBuffer may hold a block being sent or read.
  return SockStream->HasData();
}

uint16_t TPowersock::Accept() {
  ReportStatus(4, "Accepting");
  Application->ProcessMessages();
  // FD_ACCEPT sets Connected: a pending connection ends the wait as well.
  while (!LookupDone && !Connected && !Canceled)
    PumpMessages(true);
  if (Canceled) throw ESockError("Accepting Canceled");
  if (!EventOk) throw ESockError("Error creating Data Connection");

  win::sockaddr_in address{};
  int length = sizeof address;
  win::SOCKET s = win::accept(SocketHandle, reinterpret_cast<win::sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) CheckSocketError(WSAEWOULDBLOCK);
  if (s != INVALID_SOCKET && s > 0xFFFF) win::closesocket(s);
  uint16_t handle = FitHandle(s);
  win::WSAAsyncSelect(handle, SocketWindow, SocketMessage, SocketEventMask);
  RemoteAddress = address;
  if (Canceled) win::closesocket(handle);
  ThrowIfCanceled("Socket send aborted");
  return handle;
}

// ---------------------------------------------------------------------------------------------
// Time-out and abort

void TPowersock::TimerOn() {
  ReportStatus(8, "Timer On");
  TimedOut = false;
  if (TimeOut < 0) throw ERangeError();
  TimeOutTimer->SetInterval(static_cast<uint32_t>(TimeOut));
  TimeOutTimer->SetEnabled(true);
}

void TPowersock::TimerOff() {
  ReportStatus(8, "Timer Off");
  TimeOutTimer->SetEnabled(false);
}

void TPowersock::TimerTriggered(TObject*) {
  ReportStatus(8, "Timer Triggered");
  TimerOff();
  TimedOut = true;
  LookupDone = true;
  Abort();
}

void TPowersock::IdleOn() {
  IdleTimedOut = false;
  if (IdleTimeOut <= 0) return;
  IdleActivity();
  IdleTimer->SetInterval(static_cast<uint32_t>(IdleTimeOut));
  IdleTimer->SetEnabled(true);
}

void TPowersock::IdleOff() {
  IdleTimer->SetEnabled(false);
}

void TPowersock::IdleTriggered() {
  using namespace std::chrono;
  const auto idle = duration_cast<milliseconds>(steady_clock::now() - LastActivity).count();
  if (idle < IdleTimeOut) {
    // Bytes came since the watch was armed: wait for the rest of the limit after the last one.
    IdleTimer->SetInterval(static_cast<uint32_t>(std::max<int64_t>(1, IdleTimeOut - idle)));
    return;
  }
  ReportStatus(8, "Idle Limit Reached");
  IdleOff();
  IdleTimedOut = true;
  LookupDone = true;
  Abort();
}

void TPowersock::Abort() {
  ReportStatus(8, "Abort");
  Cancel();
}

void TPowersock::Cancel() {
  ReportStatus(8, "Canceling");
  Canceled = true;
}

// ---------------------------------------------------------------------------------------------
// Data transfer

// Sends length bytes until all are sent, the peer takes nothing more, or Cancel. When the buffer
// is full, awaitSpace arms the retry and messages (Cancel, the time-out) are processed until one
// comes. A reported block is counted and announced, and pending messages run after each send.
void TPowersock::SendBlock(const char* data, size_t length, bool report,
                           const std::function<void()>& awaitSpace) {
  size_t remaining = length;
  TIdleWatch idle(*this);
  do {
    // Over TLS a last call with nothing left sends what the session still holds encrypted.
    int n = SockStream->Send(data + (length - remaining), static_cast<int>(remaining));
    if (n == 0) break;
    bool wait = n < 0;
    if (n > 0) {
      IdleActivity();
      remaining -= static_cast<size_t>(n);
      if (report) {
        BytesSent += n;
        if (OnPacketSent) OnPacketSent(this);
      }
    } else {
      CheckSocketError(WSAEWOULDBLOCK);
      awaitSpace();
    }
    if (wait || report) PumpMessages(wait);
  } while ((remaining > 0 || SockStream->Unsent()) && !Canceled);
}

void TPowersock::ThrowIfCanceled(const char* message) {
  if (!Canceled) return;
  Canceled = false;
  throw EAbortError(message);
}

void TPowersock::SendBuffer(const char* Value, uint16_t BufLen) {
  ReportStatus(4, "Sending Buffer");
  TimerOn();
  TFinally timerOff([this] { TimerOff(); });
  if (!Canceled) {
    size_t length = BufLen;
    if (length == 0 && Value) {
      length = strnlen(Value, 0x10000);
      if (length > 0xFFFF) throw ERangeError();
    }
    TSendSpaceWait spaceWait(SocketWindow);
    SendBlock(Value, length, false, [&] { spaceWait.Arm(); });
  }
  ThrowIfCanceled("Socket send aborted");
}

void TPowersock::Write(const std::string& Str) {
  ReportStatus(8, "Write");
  size_t n = std::min<size_t>(Str.size(), MaxLine);
  std::memcpy(TransferBuffer.data(), Str.data(), n);
  TransferBuffer[n] = '\0';
  SendBuffer(TransferBuffer.data(), 0);
}

void TPowersock::Writeln(const std::string& Str) {
  ReportStatus(8, "Writeln");
  Write(Str + "\r\n");
}

std::string TPowersock::ReadLn() {
  ReportStatus(8, "ReadLn");
  std::string line;
  int held = 0;
  TimerOn();
  TFinally timerOff([this] { TimerOff(); });
  TIdleWatch idle(*this);
  int lineFeed = -1;
  bool notConnected = false;
  do {
    if (held == MaxLine) throw ERangeError();
    char* at = TransferBuffer.data() + held;
    int n = SockStream->Peek(at, MaxLine - held);
    if (n == 0) return std::string();
    bool wait = false;
    if (n > 0) {
      if (const void* lf = std::memchr(at, '\n', static_cast<size_t>(n))) {
        lineFeed = held + static_cast<int>(static_cast<const char*>(lf) - at);
        break;
      }
      int taken = SockStream->Recv(at, n);
      if (taken > 0) {
        IdleActivity();
        line.append(at, static_cast<size_t>(taken));
        held += taken;
      }
    } else {
      LastErrorNo = win::WSAGetLastError();
      if (LastErrorNo == WSAENOTCONN) {
        notConnected = true;
        break;
      }
      CheckSocketError(WSAEWOULDBLOCK);
      wait = true;
    }
    PumpMessages(wait);
  } while (!Canceled);
  ThrowIfCanceled("Socket readln aborted");
  if (notConnected) {
    // The close notification replaced the socket: the peer has closed, as with 0 above,
    // unless that close reported a broken connection.
    if (CloseErrorNo != 0) {
      win::WSASetLastError(CloseErrorNo);
      CloseErrorNo = 0;
      CheckSocketError(WSAEWOULDBLOCK);
    }
    return std::string();
  }
  char* at = TransferBuffer.data() + held;
  int rest = lineFeed + 1 - held;
  while (rest > 0) {
    int taken = SockStream->Recv(at, rest);
    if (taken <= 0) {
      CheckSocketError(WSAEWOULDBLOCK);
      continue;
    }
    line.append(at, static_cast<size_t>(taken));
    at += taken;
    rest -= taken;
  }
  return line;
}

std::string TPowersock::Transaction(const std::string& CommandString) {
  ReportStatus(8, "Transaction");
  ReplyNumber = 0;
  Writeln(CommandString);
  LastReply = ReadLn();
  if (!LastReply.empty()) {
    ReportStatus(1, LastReply);
    size_t digits = 0;
    while (digits < LastReply.size() && digits < 10 && LastReply[digits] >= '0' &&
           LastReply[digits] <= '9')
      ++digits;
    if (digits > 0) {
      long long value = std::stoll(LastReply.substr(0, digits));
      if (value < -32768 || value > 32767) throw ERangeError();
      ReplyNumber = static_cast<int16_t>(value);
    }
  }
  return LastReply;
}

void TPowersock::SendFile(const std::string& FileName) {
  ReportStatus(8, "SendFile");
  {
    TFileStream file(FileName, fmOpenRead);
    int64_t size = file.Size();
    TSendSpaceWait spaceWait(SocketWindow);
    do {
      if (!Canceled) {
        int64_t got = file.Read(TransferBuffer.data(), MaxLine);
        if (got <= 0) break;
        SendBlock(TransferBuffer.data(), static_cast<size_t>(got), true, [&] { spaceWait.Arm(); });
      }
    } while (file.Position() != size && !Canceled);
  }
  ThrowIfCanceled("Socket send aborted");
}

// One receive of a capture: the block's size, 0 when the connection has ended, -1 when nothing
// is there yet. A reset that the close notification saw is raised here, so that a cut-off
// transfer never ends like a complete one.
int TPowersock::ReceiveBlock() {
  int n = SockStream->Recv(TransferBuffer.data(), MaxLine);
  if (n >= 0) return n;
  LastErrorNo = win::WSAGetLastError();
  if (LastErrorNo == WSAENOTCONN) {
    if (CloseErrorNo != 0) {
      win::WSASetLastError(CloseErrorNo);
      CloseErrorNo = 0;
      CheckSocketError(WSAEWOULDBLOCK);
    }
    return 0;
  }
  CheckSocketError(WSAEWOULDBLOCK);
  return -1;
}

// The receive loop of both captures: every block goes to store and is counted and reported; the
// loop ends at the peer's close, on Cancel, or when wantMore says so. The time-out is a deadline
// for the whole capture: TimerOn only clears TimedOut, the running timer keeps its start.
// While blocks keep coming the messages are served every PumpInterval, not after each block: a
// pass over the message queue costs more than receiving and storing a block, and a window served
// a hundred times a second is as live as one served thousands of times.
void TPowersock::ReceiveBlocks(const std::function<int(const char*, int)>& store,
                               const std::function<bool()>& wantMore) {
  using Clock = std::chrono::steady_clock;
  constexpr auto PumpInterval = std::chrono::milliseconds(10);
  Clock::time_point lastPump = Clock::now();
  TIdleWatch idle(*this);
  while (!Canceled && wantMore()) {
    int n = ReceiveBlock();
    if (n == 0) break;
    if (n > 0) {
      // One look at the clock a block serves both the idle limit and the pump.
      const Clock::time_point now = Clock::now();
      IdleActivity(now);
      BytesRecvd += store(TransferBuffer.data(), n);
      if (OnPacketRecvd) OnPacketRecvd(this);
      TimerOn();
      if (now - lastPump < PumpInterval) continue;
    }
    PumpMessages(n < 0);
    lastPump = Clock::now();
  }
}

void TPowersock::CaptureFile(const std::string& FileName) {
  ReportStatus(8, "CaptureFile");
  BytesRecvd = 0;
  TimerOn();
  TFinally timerOff([this] { TimerOff(); });
  {
    TFileStream file(FileName, fmCreate);
    ReceiveBlocks(
        [&](const char* data, int n) {
          if (file.Write(data, n) != n)
            throw EWriteError(Format("Cannot write file %s", FileName.c_str()));
          return n;
        },
        [] { return true; });
    file.Close();
  }
  ThrowIfCanceled("Socket send aborted");
}

std::string TPowersock::CaptureString(int64_t Count) {
  ReportStatus(8, "Capture String");
  std::string s;
  BytesRecvd = 0;
  TimerOn();
  TFinally timerOff([this] { TimerOff(); });
  ReceiveBlocks(
      [&](const char* data, int n) {
        s.append(data, static_cast<size_t>(n));
        return n;
      },
      [&] { return Count == -1 || static_cast<int64_t>(s.size()) < Count; });
  ThrowIfCanceled("Socket capture aborted");
  return s;
}
