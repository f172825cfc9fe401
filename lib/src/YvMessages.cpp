#include "YvMessages.h"

namespace ylvane {

namespace {

struct StatusTexts {
  HRESULT code;
  const char16_t* english;
  const char16_t* russian;
};

constexpr StatusTexts kTexts[] = {
    {YV_S_CANCELED, u"Operation canceled.\r\n", u"Операция отменена.\r\n"},
    {YV_S_NOT_FOUND, u"Not found.\r\n", u"Не найдено.\r\n"},
    {YV_E_PORT_NOT_EXISTS, u"Port not exists.\r\n", u"Порт не существует.\r\n"},
    {YV_E_PORT_BUSY, u"Port busy.\r\n", u"Порт занят.\r\n"},
    {YV_E_PORT_OPEN, u"Error opening port.\r\n", u"Ошибка открытия порта.\r\n"},
    {YV_E_COMM, u"Communication error.\r\n", u"Ошибка передачи данных.\r\n"},
    {YV_E_PORT_SETUP, u"Error configuring port.\r\n", u"Ошибка настройки порта.\r\n"},
    {YV_E_FTD2XX_LOAD, u"Failed to load FTD2XX.DLL.\r\n", u"Неудалось загрузить FTD2XX.DLL.\r\n"},
    {YV_E_SOCKET, u"Socket Error.\r\n", u"Ошибка сокета.\r\n"},
    {YV_E_CLOSED_OUTSIDE, u"Object is closed from the outside.\r\n", u"Объект закрыт извне.\r\n"},
    {YV_E_NOT_INITIALIZED, u"\"Initialize\" has not been called.\r\n",
     u"Не проинициализировано функцией \"Initialize\".\r\n"},
    {YV_E_BUFFER_TOO_SMALL, u"The buffer size is too small.\r\n",
     u"Размер буфера слишком мал.\r\n"},
};

}  // namespace

const char16_t* StatusText(HRESULT code, uint32_t langId) {
  if (langId != YV_LANG_ENGLISH && langId != YV_LANG_RUSSIAN) return nullptr;
  for (const auto& t : kTexts)
    if (t.code == code) return langId == YV_LANG_ENGLISH ? t.english : t.russian;
  return nullptr;
}

}  // namespace ylvane
