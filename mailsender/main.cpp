// Tremmail: sends one e-mail notice (see tremmail.h).
#include <cstdio>

#include "mailsender/tremmail.h"

int main(int argc, char** argv) {
  return tremmail::SendNotificationMail(argc, argv, stderr);
}
