#include "app/application.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

namespace kelmo {

Error DescribeFatal(std::exception_ptr error) {
  try {
    std::rethrow_exception(std::move(error));
  } catch (const std::system_error& e) {
    return {e.code().value(), QString::fromLocal8Bit(e.what())};
  } catch (const std::bad_alloc&) {
    return {ENOMEM, QObject::tr("メモリが足りません。")};
  } catch (const std::exception& e) {
    return {-1, QString::fromLocal8Bit(e.what())};
  } catch (...) {
    return {-1, QObject::tr("不明なエラーです。")};
  }
}

bool InstallQtTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_ja"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  InstallQtTranslations(*this);
  setApplicationName(QStringLiteral("Kelmo"));
  setApplicationVersion(QStringLiteral(KELMO_VERSION));
  setDesktopFileName(QStringLiteral("org.kelmo.Kelmo"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    QMessageBox::critical(nullptr, applicationName(),
                          ErrorBoxText(DescribeFatal(std::current_exception())));
    std::_Exit(EXIT_FAILURE);
  }
}

}  // namespace kelmo
