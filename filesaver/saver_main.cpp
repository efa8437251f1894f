// saver [-d DIR] [-D DISPLAY] [-a XAUTHORITY]: replays the File Saver's macros.
int main() {
  return 2;
}
