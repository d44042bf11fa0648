// ReportMessage: the launcher's one way to tell the user something; core code, OS via platform.h only.
#include "launcher/launcher.h"
#include "launcher/text.h"

void ReportMessage(UINT messageId, UINT style) {
  char text[MESSAGE_BUFFER_SIZE];
  char caption[MESSAGE_BUFFER_SIZE];
  text[0] = 0;
  LoadStringA(g_launcherState.instance, messageId, text, (int)sizeof text);
  DWORD captionLength = GetModuleFileNameA(g_launcherState.instance, caption, (DWORD)sizeof caption);
  // Without its own path the box still needs a caption that says who speaks.
  if (captionLength == 0 || captionLength >= sizeof caption) TextCopy(caption, sizeof caption, "sfxrun");
  MessageBoxA(nullptr, text, caption, style);
}
