#include <QApplication>
#include <QMessageBox>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMessageBox::information(nullptr, "Quillberry",
                           "The main window is not built yet; use quillberry-cli for now.");
  return 0;
}
