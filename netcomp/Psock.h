// The socket component: a Winsock stream socket driven by window messages, its time-out timer,
// the socket exceptions and the text field helpers.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/Classes.h"
#include "framework/Sysutils.h"
#include "netcomp/NMStream.h"
#include "platform/tls.h"
#include "platform/win32.h"

CORVANE_EXCEPTION_CLASS(ESockError, Exception);
// Raised when an operation stops because it was canceled, aborted or timed out.
CORVANE_EXCEPTION_CLASS(EAbortError, ESockError);
// A secure connection failed. A certificate or protocol fault will not heal by trying again; a
// broken session is a cut connection like any other.
class ETlsError : public ESockError {
public:
  ETlsError(platform::TlsFault fault, const std::string& message)
      : ESockError(message), Fault(fault) {}
  const char* ClassName() const noexcept override { return "ETlsError"; }
  // A certificate or protocol fault, or no TLS engine: the same try would fail the same way.
  bool Lasting() const { return Fault != platform::TlsFault::Broken; }
  platform::TlsFault Fault;
};

using THandlerEvent = std::function<void(bool& Handled)>;
using TOnStatus = std::function<void(TObject* Sender, const std::string& Status)>;
using TOnHostResolved = std::function<void(TObject* Sender)>;
using TOnSocketError =
    std::function<void(TObject* Sender, uint16_t ErrorCode, const std::string& ErrorText)>;

// A window message as the component's window procedures hand it on.
struct TSockMessage {
  win::UINT Msg;
  win::WPARAM WParam;
  win::LPARAM LParam;
  win::LRESULT Result;
};

// A timer on a window timer of its own hidden window; its ticks arrive as messages on the GUI
// thread (no thread is started).
class TThreadTimer : public TComponent {
public:
  explicit TThreadTimer(TComponent* AOwner);
  ~TThreadTimer() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value);
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent Value);

  virtual void Timer();

  // Called by the timer window's procedure.
  void WndProc(TSockMessage& Message);
  win::HWND WindowHandle() const { return FWindowHandle; }

private:
  void UpdateTimer();

  uint32_t FInterval = 1000;
  win::HWND FWindowHandle = nullptr;
  TNotifyEvent FOnTimer;
  bool FEnabled = true;
};

class TPowersock : public TComponent {
public:
  static constexpr win::UINT SocketMessage = 1125;
  static constexpr win::UINT HostLookupMessage = 1126;
  static constexpr long SocketEventMask = 61; // read, out-of-band, accept, connect, close
  static constexpr uint16_t NoSocket = 65535;
  static constexpr int TransferBufferSize = 65537;
  static constexpr int HostEntryBufferSize = 1024;

  explicit TPowersock(TComponent* AOwner);
  ~TPowersock() override;

  // Published properties and events.
  std::string Host;
  int32_t Port = 0;
  int32_t TimeOut = 0; // milliseconds; 0: no time-out
  // The longest a wait may see no byte move (looking up, connecting, sending, reading) before the
  // connection counts as stalled and the wait ends as on a time-out; milliseconds, 0: no limit.
  // Unlike TimeOut it runs again from every byte.
  int32_t IdleTimeOut = 0;
  int32_t ReportLevel = 0; // highest status level delivered to OnStatus
  TNotifyEvent OnDisconnect;
  TNotifyEvent OnConnect;
  THandlerEvent OnInvalidHost;
  TOnHostResolved OnHostResolved;
  TOnStatus OnStatus;
  TNotifyEvent OnConnectionFailed;

  // Published by the protocol components above.
  std::string Proxy;
  int32_t ProxyPort = 0;
  TNotifyEvent OnPacketRecvd;
  TNotifyEvent OnPacketSent;

  // Not empty: Connect runs a TLS session over the connection, whose certificate must be valid
  // for this name, and every transfer after it reads and writes its plaintext.
  std::string SecureHost;

  // Not published.
  TNotifyEvent OnReadReady;
  TNotifyEvent OnAcceptReady;
  TOnSocketError OnSocketError;

  // Operations.
  virtual uint16_t Accept();
  virtual void Connect();
  virtual void Disconnect();
  // Sends the command as a line and returns the reply line (with its line end).
  virtual std::string Transaction(const std::string& CommandString);
  virtual void Abort();
  void Cancel();

  void ResolveHost();
  bool DataAvailable();
  void RequestCloseSocket();
  void ReportStatus(uint8_t Level, const std::string& Text);

  // Length 0 sends up to the first NUL.
  void SendBuffer(const char* Value, uint16_t BufLen);
  void Write(const std::string& Str);
  void Writeln(const std::string& Str);
  // One line including its line end; empty when the peer has closed.
  std::string ReadLn();
  void SendFile(const std::string& FileName);
  // Until the peer closes. A file that cannot be written raises EWriteError.
  void CaptureFile(const std::string& FileName);
  // Count -1: until the peer closes; else until Count bytes are held, tested between blocks.
  std::string CaptureString(int64_t Count = -1);

  void TimerOn();
  void TimerOff();
  // The idle limit: IdleOn starts watching a wait, IdleActivity notes a byte moved, IdleOff ends.
  void IdleOn();
  void IdleOff();
  void IdleActivity() { LastActivity = std::chrono::steady_clock::now(); }
  void IdleActivity(std::chrono::steady_clock::time_point now) { LastActivity = now; }

  // "code:text" for a Winsock error code, "Unknown Error No. code" for others, empty for 0.
  std::string LookupErrorMessage(uint16_t ErrorCode);
  // Raises ESockError for the last Winsock error unless it is Ignore or 10000 and below.
  void CheckSocketError(uint16_t Ignore);

  // State, readable by the application and writable by protocol components.
  std::array<char, TransferBufferSize> TransferBuffer{};
  std::unique_ptr<TStringList> WinsockInfo;
  int64_t BytesSent = 0;
  bool Canceled = false;
  int32_t LastErrorNo = 0;
  // The Winsock error of the last host lookup (WSAHOST_NOT_FOUND, ...); 0 when it found the host.
  // Connect reports a failed lookup as "Null Remote Address", which says nothing of why.
  int32_t LookupErrorNo = 0;
  std::string Status;
  bool EventOk = false;
  bool TimedOut = false;
  // Set when the idle limit ended the last wait; cleared when a wait starts watching.
  bool IdleTimedOut = false;
  int64_t BytesTotal = 0;
  int64_t BytesRecvd = 0;
  bool LookupDone = false;
  win::sockaddr_in RemoteAddress{};
  std::string LastReply;
  int16_t ReplyNumber = 0;
  uint16_t SocketHandle = NoSocket;
  bool Connected = false;

  // Called by the notification window's procedure.
  void HandleSocketMessage(TSockMessage& Message);

  // The connection's bytes; over TLS, what the session decrypted.
  TSockStream& Stream() { return *SockStream; }

protected:
  friend class TSockStream;
  void InitializeWinsock();
  // Runs the TLS handshake of SecureHost inside Connect's deadline.
  void StartSecureSession();
  void TimerTriggered(TObject* Sender);
  void IdleTriggered();
  // Opens and registers a socket; false when the system gives none.
  bool OpenSocket(int Protocol, bool Linger);
  // Processes the pending messages, or waits for one first when nothing can happen without one.
  void PumpMessages(bool WaitForMessage);
  int ReceiveBlock();
  // store returns how many of the bytes it took; only those are counted in BytesRecvd.
  void ReceiveBlocks(const std::function<int(const char*, int)>& store,
                     const std::function<bool()>& wantMore);
  void SendBlock(const char* data, size_t length, bool report,
                 const std::function<void()>& awaitSpace);
  // After Cancel: clears it and raises EAbortError with message.
  void ThrowIfCanceled(const char* message);

  bool ShuttingDown = false;
  // Error code of a close notification that reported a broken connection; readers that then
  // find the socket replaced raise it instead of ending normally.
  uint16_t CloseErrorNo = 0;
  // Task of the running host lookup, so that a late reply of an abandoned one is not taken.
  win::HANDLE LookupTask = nullptr;
  std::unique_ptr<TThreadTimer> TimeOutTimer;
  // Ticks when the idle limit may have passed; it then looks at LastActivity before acting, so
  // that a byte costs a clock read and not a timer reset.
  std::unique_ptr<TThreadTimer> IdleTimer;
  std::chrono::steady_clock::time_point LastActivity;
  win::WSADATA WSAData{};
  std::unique_ptr<char[]> HostEntryBuffer;
  win::HWND SocketWindow = nullptr;
  std::unique_ptr<TSockStream> SockStream;
};

// The n-th (1-based) field of s, fields separated by single delimiter characters.
std::string NthWord(const std::string& s, char Delimiter, int n);
// The 1-based position of the n-th delimiter in s, or the length of s plus 1 when s has fewer;
// an empty s raises ERangeError.
int NthWordPos(const std::string& s, char Delimiter, int n);
