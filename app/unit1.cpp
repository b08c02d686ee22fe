// The update window: layout, start-up values, download progress display and the update check.
// Texts are written here in UTF-8 for readability and handed to the toolkit in ANSI, as the
// toolkit interface takes them.
#include "app/unit1.h"

#include "digest/md5.h"
#include "platform/codepage.h"
#include "platform/paths.h"

#ifndef LUMEN_UPDATE_HOST
#error "LUMEN_UPDATE_HOST must name the update server (host or host:port)"
#endif

namespace lumen {

namespace {

constexpr const char* kDigestPath = "/quorvale/update.md5";
constexpr const char* kArchivePath = "/quorvale/Lumen_Courier.zip";
constexpr const char* kCompanionExe = "Lumen_Courier.exe";

// The window's texts, converted once.
struct TTexts {
  std::string formCaption = Utf8ToAnsi("Модуль обновления");
  std::string source = Utf8ToAnsi("Источник:");
  std::string loaded = Utf8ToAnsi("Загружено:");
  std::string waiting = Utf8ToAnsi("Ожидание...");
  std::string check = Utf8ToAnsi("Проверить наличие обновлений");
  std::string update = Utf8ToAnsi("Обновить");
  std::string bytesOf = Utf8ToAnsi(" байт из ");
  std::string bytes = Utf8ToAnsi(" байт");
  std::string done = Utf8ToAnsi("Готово.");
  std::string information = Utf8ToAnsi("Информация");
  std::string attention = Utf8ToAnsi("Внимание");
  std::string noUpdate = Utf8ToAnsi("Для вашей программы обновлений нет.");
  // One line feed, no carriage return: the box shows it as a line break on every platform.
  std::string newVersion = Utf8ToAnsi("Доступно новая версия программы!\nУстановить сейчас?");
  std::string unavailable = Utf8ToAnsi("Сервис не доступен, попробуйте позже.");
};

const TTexts& Texts() {
  static const TTexts texts;
  return texts;
}

TControlSpec Control(const char* name, TControlKind kind, int left, int top, int width, int height,
                     std::string caption, int tabOrder, bool autoSize) {
  TControlSpec control;
  control.name = name;
  control.kind = kind;
  control.left = left;
  control.top = top;
  control.width = width;
  control.height = height;
  control.caption = std::move(caption);
  control.tabOrder = tabOrder;
  control.autoSize = autoSize;
  return control;
}

TFormSpec Form1Spec() {
  const TTexts& t = Texts();
  TFormSpec spec;
  spec.caption = t.formCaption;
  spec.clientWidth = 369;
  spec.clientHeight = 119;
  using K = TControlKind;
  // Creation order; Label2 keeps its width so a long address is cut off instead of growing.
  spec.controls = {
      Control("Label1", K::Label, 8, 8, 52, 13, t.source, -1, true),
      Control("Label2", K::Label, 64, 8, 297, 13, "", -1, false),
      Control("Label3", K::Label, 8, 69, 59, 13, t.loaded, -1, true),
      Control("Label4", K::Label, 72, 69, 65, 13, t.waiting, -1, true),
      Control("Button1", K::Button, 8, 32, 209, 25, t.check, 0, false),
      Control("Button2", K::Button, 224, 32, 137, 25, t.update, 1, false),
      Control("ProgressBar1", K::ProgressBar, 8, 88, 353, 23, "", 2, false),
  };
  return spec;
}

}  // namespace

TForm1::TForm1(IToolkit& toolkit, TForm1Settings settings)
    : HttpClient1(TComponent::Create<THttpClient>(*this)),
      HttpClient2(TComponent::Create<THttpClient>(*this)),
      ZipArchiver1(TComponent::Create<TZipArchiver>(*this)),
      settings_(std::move(settings)) {
  SetName("Form1");
  HttpClient1.SetName("HttpClient1");
  HttpClient2.SetName("HttpClient2");
  ZipArchiver1.SetName("ZipArchiver1");
  HttpClient1.OnWorkBegin = [this](TComponent* sender, TWorkMode mode, int32_t max) {
    HttpClient1WorkBegin(sender, mode, max);
  };
  HttpClient1.OnWork = [this](TComponent* sender, TWorkMode mode, int32_t count) {
    HttpClient1Work(sender, mode, count);
  };
  HttpClient1.OnWorkEnd = [this](TComponent* sender, TWorkMode mode) {
    HttpClient1WorkEnd(sender, mode);
  };
  updateServerHost_ =
      settings_.updateServerHost.empty() ? LUMEN_UPDATE_HOST : settings_.updateServerHost;
  window_ = toolkit.CreateForm(Form1Spec(), *this);
  FormCreate(this);
}

// The window goes first, while the components it might still report to are alive.
TForm1::~TForm1() {
  window_.reset();
}

std::string TForm1::DigestUrl() const {
  return "http://" + updateServerHost_ + kDigestPath;
}

std::string TForm1::ArchiveUrl() const {
  return "http://" + updateServerHost_ + kArchivePath;
}

void TForm1::FormCreate(TComponent*) {
  const std::string ownPath =
      settings_.ownExePath.empty() ? OwnExecutablePath() : settings_.ownExePath;
  targetExePath_ = ExtractFilePath(ownPath) + kCompanionExe;
  archiveEntryName_ = kCompanionExe;
  window_->SetCaption("Label2", ArchiveUrl());
}

void TForm1::Button1Click(TComponent*) {
  RunCommand([this] {
    const TTexts& t = Texts();
    // The server first: when it cannot be reached, the local file is never read.
    const std::string remoteDigest = HttpClient2.Get(DigestUrl());
    if (closeRequested_) return;
    const std::string localDigest = GetMD5_File(targetExePath_);
    // Byte for byte: a trailing line break or upper-case digits mean the server's file is not
    // in the published form, and offering the update is the safe reading of that.
    if (remoteDigest == localDigest) {
      window_->MessageBox(t.noUpdate, t.information, kMbOk | kMbIconInformation);
      return;
    }
    if (window_->MessageBox(t.newVersion, t.information, kMbYesNo | kMbIconQuestion) == kIdYes) {
      DownloadAndInstall();
    }
  });
}

std::string TForm1::GetMD5(const std::string& text) {
  return ::lumen::GetMD5(text);
}

std::string TForm1::GetMD5_File(const std::string& fileName) {
  return ::lumen::GetMD5_File(fileName);
}

void TForm1::HttpClient1Work(TComponent*, TWorkMode, int32_t AWorkCount) {
  const TTexts& t = Texts();
  window_->SetProgressPosition("ProgressBar1", AWorkCount);
  window_->SetCaption(
      "Label4", std::to_string(AWorkCount) + t.bytesOf + std::to_string(downloadTotal_) + t.bytes);
  window_->ProcessMessages();
}

void TForm1::HttpClient1WorkBegin(TComponent*, TWorkMode, int32_t AWorkCountMax) {
  window_->SetProgressPosition("ProgressBar1", 0);
  window_->SetProgressRange("ProgressBar1", 0, AWorkCountMax);
  downloadTotal_ = AWorkCountMax;
  window_->ProcessMessages();
}

void TForm1::HttpClient1WorkEnd(TComponent*, TWorkMode) {
  window_->SetProgressPosition("ProgressBar1", 0);
  window_->SetCaption("Label4", Texts().done);
  window_->ProcessMessages();
}

void TForm1::OnClick(const std::string& control) {
  if (control == "Button1") {
    Button1Click(this);
  } else if (control == "Button2") {
    Button2Click(this);
  }
}

bool TForm1::OnCloseQuery() {
  if (!commandRunning_) return true;
  // The window cannot go while a handler below still uses it: stop the transfer now and let the
  // command close the window when it has unwound.
  closeRequested_ = true;
  HttpClient1.Abort();
  HttpClient2.Abort();
  return false;
}

void TForm1::RunCommand(const std::function<void()>& command) {
  // Buttons are disabled meanwhile, so only a nested message loop could get here twice; one
  // command at a time keeps a client from being asked for a second transfer inside its first.
  if (commandRunning_) return;
  commandRunning_ = true;
  closeRequested_ = false;
  struct TCommandScope {
    TForm1& form;
    ~TCommandScope() {
      form.commandRunning_ = false;
      if (!form.closeRequested_) form.SetButtonsEnabled(true);
    }
  } scope{*this};
  SetButtonsEnabled(false);

  bool failed = false;
  try {
    command();
  } catch (...) {
    // Whatever went wrong, the user gets the same single warning; details are not shown.
    failed = true;
  }
  if (closeRequested_) {
    window_->Close();
    return;
  }
  if (failed) {
    const TTexts& t = Texts();
    window_->MessageBox(t.unavailable, t.attention, kMbOk | kMbIconWarning);
  }
}

void TForm1::SetButtonsEnabled(bool enabled) {
  window_->SetEnabled("Button1", enabled);
  window_->SetEnabled("Button2", enabled);
}

}  // namespace lumen
