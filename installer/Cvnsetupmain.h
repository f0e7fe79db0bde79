// TForm1: the installer window's logic, its settings and the state its steps share.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "framework/Forms.h"
#include "downloads/Download.h"
#include "installer/SignedList.h"
#include "installer/view.h"
#include "netcomp/NMHttp.h"

// Settings, fixed at module initialisation.
extern std::string Ticker;
extern std::string IniPath;
extern std::string DownloadUrl; // always ends with "/"
extern std::string WalletExe;
extern std::string AppDir; // "C:\" + IniPath + "\"
// The publisher's ECDSA P-256 public keys (PEM, one or more), built in: a list signed by any of
// them is accepted. Empty: downloads are not verified and the installer asks for nothing beyond
// its four files.
extern std::string PublisherKey;
// The lowest serial a signed list may carry, that of the release the build ships.
extern int64_t LowestListSerial;
// The blockchain archive's own arguments for an unattended run (/SILENT, /VERYSILENT), so that it
// asks nothing; empty: it gets none.
extern std::string ArchiveSilentArgs;

// Names derived from the settings, rebuilt on each use. The separators differ on purpose:
// local paths on AppDir and the archive use backslashes, VersionFile forward slashes, and
// VersionUrl repeats the slash DownloadUrl ends with.
std::string LauncherExe();
std::string LauncherDest();
std::string LauncherUrl();
std::string WalletDest();
std::string WalletUrl();
std::string VersionFile();
std::string VersionUrl();
std::string ChainExe();
std::string ArchiveDest();
std::string ArchiveUrl();
std::string ChainDir();

// The log line that gives the system's reason beside one of the program's own texts:
// "reason: Access is denied. (error 5)".
std::string ReasonLine(unsigned long error);

// A shell folder's path (CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, ...), or false.
bool SpecialFolder(int csidl, std::string& path);

// Process-wide state shared by the start-up and the install steps.
extern std::string DataPath;
extern std::string FoundText;
extern bool ChainDirFound;
extern bool AppDirFound;
// Why nothing may be installed into an AppDir that was there before (a link, another user's
// folder, one whose access cannot be limited); empty when it may.
extern std::string AppDirRefusal;
extern bool DownloadOk;

class TForm1 : public TForm {
public:
  // Builds the window from its stored layout, then runs the start-up checks. Raises Exception
  // "Cannot create " + the directory when a missing directory cannot be created.
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;

  void Show() override;

  // Logs the probe and tells whether anything of that name exists.
  bool ProbePath(const std::string& path);

  void Button1Click(TObject* Sender);

  // The install steps, the download handlers and the shortcut maker (Cvnsetupinstall.cpp).
  std::unique_ptr<TNMHTTP> NMHTTP1;
  void InstallProgram();
  void DownloadLauncher();
  void DownloadWallet();
  void InstallBlockchain();
  void DownloadBlockchain();
  void MakeDesktopShortcut(const std::string& target);
  void MakeStartMenuShortcut(const std::string& target);
  // Saves FOLDER<separator><IniPath>.lnk; a failure is logged with its reason and the install
  // goes on.
  void SaveShortcut(const std::string& target, const std::string& folder,
                    const std::string& separator);
  void NMHTTP1Success(CmdType Cmd);
  void NMHTTP1Failure(CmdType Cmd);
  void NMHTTP1PacketRecvd2(TObject* Sender);

  TInstallerView& View() { return *view_; }

  // Set for a run from the command line: whether a box may ask the user, and /CLOSEAPPLICATIONS.
  bool AsksUser = true;
  bool CloseApplications = false;

private:
  void StartUp();
  // Probes dir, notes in found whether it was there, and creates it when it was not (ownerOnly:
  // as a program directory, see platform/files.h).
  void EnsureDirectory(const std::string& dir, const std::string& foundLine, bool& found,
                       bool ownerOnly);
  void Log(const std::string& line) { view_->AddLogLine(line); }
  // An AppDir that was there before: secured, or AppDirRefusal says why it may not be used.
  void CheckProgramDirectory();

  std::unique_ptr<TInstallerView> view_;

  void CreateNMHTTP1();
  // Downloads url into a part file beside dest, which replaces dest only when it is whole (a
  // program only when it is one, and with a publisher key only when it has the listed size and
  // hash; a file the list does not name is not asked for, and one installed as listed is not
  // fetched again).
  void GetInto(const std::string& url, const std::string& dest, bool program = false);
  // With a publisher key: fetches the list of downloads and its signature and checks them.
  bool FetchFileList();
  bool FetchText(const std::string& url, std::string& text);
  // Where the serial of the newest list accepted is kept.
  std::string KeptSerialFile() const;
  // Whether dest already holds the listed file.
  bool IsUpToDate(const std::string& dest, const TListedFile& listed);
  // The SHA-256 of path, hashed on a thread of its own while the window stays live; a close ends
  // it (EAbort) within a block.
  std::optional<std::string> HashBeside(const std::string& path);
  // Whether the part of dest that arrived whole has the listed hash; logs the refusal.
  bool MatchesFileList(const std::string& name, const TListedFile& listed, const std::string& dest);
  // Whether dest may be replaced now: no running program holds it, or it was closed (or the user
  // closed it when asked). Logs who holds it when it may not.
  bool FreeToReplace(const std::string& dest);
  // The last GetInto left its whole download because a running program holds dest.
  bool heldBack_ = false;
  TSignedList fileList_;
  // A close during an install aborts the running download.
  void WindowClosing();
  bool installing_ = false;
  bool closing_ = false;

public:
  // The part files, their retries and pauses.
  TDownloads& Downloads() { return *downloads_; }

private:
  std::unique_ptr<TDownloads> downloads_;
};

extern TForm1* Form1;
