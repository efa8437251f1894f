// The system log of a program under test, caught on its way out: preloaded (LD_PRELOAD) into
// the program, this library takes the place of the C library's syslog functions and appends
// each entry, as "IDENT|PRIORITY|TEXT", to the file named by VIGIL_SYSLOG_CAPTURE. Nothing
// reaches the machine's log.
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

static char g_ident[128] = "";

void openlog(const char* ident, int option, int facility) {
  (void)option;
  (void)facility;
  snprintf(g_ident, sizeof g_ident, "%s", ident != NULL ? ident : "");
}

void closelog(void) {}

void vsyslog(int priority, const char* format, va_list ap) {
  const char* path = getenv("VIGIL_SYSLOG_CAPTURE");
  if (path == NULL || *path == '\0') return;
  char text[4096];
  int n = snprintf(text, sizeof text, "%s|%d|", g_ident, LOG_PRI(priority));
  if (n < 0 || (size_t)n >= sizeof text) return;
  int m = vsnprintf(text + n, sizeof text - (size_t)n - 1, format, ap);
  if (m < 0) return;
  size_t length = strlen(text);
  text[length++] = '\n';
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write: the entries of the program's threads never mix.
  ssize_t written = write(fd, text, length);
  (void)written;
  close(fd);
}

void syslog(int priority, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vsyslog(priority, format, ap);
  va_end(ap);
}

// What calls of syslog and vsyslog become in a program built with _FORTIFY_SOURCE.
void __vsyslog_chk(int priority, int flag, const char* format, va_list ap) {
  (void)flag;
  vsyslog(priority, format, ap);
}

void __syslog_chk(int priority, int flag, const char* format, ...) {
  (void)flag;
  va_list ap;
  va_start(ap, format);
  vsyslog(priority, format, ap);
  va_end(ap);
}
