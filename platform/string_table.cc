#include "platform/string_table.h"

#include <string>

namespace kvx {

namespace {

struct Language {
  int id;
  const char* text[10];  // ids 102 to 111
};

// Messages 106 and 107 of 2052 carry no line feed of their own: the table
// keeps them as they were always shipped.
const Language kLanguages[] = {
    {1033,
     {"The XML file has been parsed successfully.\n",
      "You must specify the XML file name.\n",
      "Cannot find the XML file.\n",
      "You do not have permission to perform this action.\n",
      "Failed to verify the XML file.\n",
      "Failed to parse the XML file.\n",
      "Cannot support the command.\n",
      "Error",
      "Validation failed on %s \n=====================\nReason: %s\nSource: %s\nLine: %s\n",
      "Cannot process the request. Another utility or application is currently running.\n"}},
    {1031,
     {"Die XML-Datei wurde erfolgreich verarbeitet.\n",
      "Sie müssen den Namen der XML-Datei angeben.\n",
      "Die XML-Datei wurde nicht gefunden.\n",
      "Sie haben keine Berechtigung, diese Aktion auszuführen.\n",
      "Die XML-Datei konnte nicht überprüft werden.\n",
      "Die XML-Datei konnte nicht verarbeitet werden.\n",
      "Der Befehl wird nicht unterstützt.\n",
      "Fehler",
      "Überprüfung fehlgeschlagen für %s \n=====================\nGrund: %s\nQuelle: %s\nZeile: %s\n",
      "Die Anforderung kann nicht verarbeitet werden. Ein anderes Dienstprogramm oder eine "
      "andere Anwendung wird gerade ausgeführt.\n"}},
    {1036,
     {"Le fichier XML a été analysé avec succès.\n",
      "Vous devez indiquer le nom du fichier XML.\n",
      "Impossible de trouver le fichier XML.\n",
      "Vous n'avez pas l'autorisation d'effectuer cette action.\n",
      "Échec de la vérification du fichier XML.\n",
      "Échec de l'analyse du fichier XML.\n",
      "Cette commande n'est pas prise en charge.\n",
      "Erreur",
      "Échec de la validation de %s \n=====================\nMotif : %s\nSource : %s\nLigne : %s\n",
      "Impossible de traiter la demande. Un autre utilitaire ou une autre application est en "
      "cours d'exécution.\n"}},
    {1040,
     {"Il file XML è stato analizzato correttamente.\n",
      "Specificare il nome del file XML.\n",
      "Impossibile trovare il file XML.\n",
      "Non si dispone dell'autorizzazione per eseguire questa operazione.\n",
      "Impossibile verificare il file XML.\n",
      "Impossibile analizzare il file XML.\n",
      "Comando non supportato.\n",
      "Errore",
      "Convalida non riuscita per %s \n=====================\nMotivo: %s\nOrigine: %s\nRiga: %s\n",
      "Impossibile elaborare la richiesta. È in esecuzione un'altra utilità o applicazione.\n"}},
    {1043,
     {"Het XML-bestand is met succes verwerkt.\n",
      "U moet de naam van het XML-bestand opgeven.\n",
      "Kan het XML-bestand niet vinden.\n",
      "U bent niet gemachtigd om deze actie uit te voeren.\n",
      "Kan het XML-bestand niet controleren.\n",
      "Kan het XML-bestand niet verwerken.\n",
      "De opdracht wordt niet ondersteund.\n",
      "Fout",
      "Validatie mislukt voor %s \n=====================\nReden: %s\nBron: %s\nRegel: %s\n",
      "Kan de aanvraag niet verwerken. Er wordt al een ander hulpprogramma of een andere "
      "toepassing uitgevoerd.\n"}},
    {1053,
     {"XML-filen har tolkats.\n",
      "Du måste ange namnet på XML-filen.\n",
      "Det går inte att hitta XML-filen.\n",
      "Du har inte behörighet att utföra den här åtgärden.\n",
      "Det gick inte att verifiera XML-filen.\n",
      "Det gick inte att tolka XML-filen.\n",
      "Kommandot stöds inte.\n",
      "Fel",
      "Valideringen misslyckades för %s \n=====================\nOrsak: %s\nKälla: %s\nRad: %s\n",
      "Det går inte att behandla begäran. Ett annat verktyg eller program körs redan.\n"}},
    {3082,
     {"El archivo XML se ha analizado correctamente.\n",
      "Debe especificar el nombre del archivo XML.\n",
      "No se encuentra el archivo XML.\n",
      "No tiene permiso para realizar esta acción.\n",
      "No se pudo comprobar el archivo XML.\n",
      "No se pudo analizar el archivo XML.\n",
      "No se admite el comando.\n",
      "Error",
      "Error de validación en %s \n=====================\nMotivo: %s\nOrigen: %s\nLínea: %s\n",
      "No se puede procesar la solicitud. Se está ejecutando otra utilidad o aplicación.\n"}},
    {1041,
     {"XML ファイルは正常に解析されました。\n",
      "XML ファイル名を指定してください。\n",
      "XML ファイルが見つかりません。\n",
      "この操作を実行する権限がありません。\n",
      "XML ファイルを検証できませんでした。\n",
      "XML ファイルを解析できませんでした。\n",
      "このコマンドはサポートされていません。\n",
      "エラー",
      "%s の検証に失敗しました \n=====================\n理由: %s\nソース: %s\n行: %s\n",
      "要求を処理できません。別のユーティリティまたはアプリケーションが実行中です。\n"}},
    {1042,
     {"XML 파일을 구문 분석했습니다.\n",
      "XML 파일 이름을 지정해야 합니다.\n",
      "XML 파일을 찾을 수 없습니다.\n",
      "이 작업을 수행할 수 있는 권한이 없습니다.\n",
      "XML 파일을 확인하지 못했습니다.\n",
      "XML 파일을 구문 분석하지 못했습니다.\n",
      "명령을 지원하지 않습니다.\n",
      "오류",
      "%s의 유효성 검사에 실패했습니다 \n=====================\n원인: %s\n소스: %s\n줄: %s\n",
      "요청을 처리할 수 없습니다. 다른 유틸리티 또는 응용 프로그램이 실행 중입니다.\n"}},
    {2052,
     {"XML 文件已成功解析。\n",
      "必须指定 XML 文件名。\n",
      "找不到 XML 文件。\n",
      "您没有执行此操作的权限。\n",
      "验证 XML 文件失败。",
      "解析 XML 文件失败。",
      "不支持该命令。\n",
      "错误",
      "验证 %s 失败 \n=====================\n原因: %s\n来源: %s\n行: %s\n",
      "无法处理请求。另一个实用程序或应用程序正在运行。\n"}},
    {1028,
     {"XML 檔案已成功剖析。\n",
      "必須指定 XML 檔案名稱。\n",
      "找不到 XML 檔案。\n",
      "您沒有執行此動作的權限。\n",
      "驗證 XML 檔案失敗。\n",
      "剖析 XML 檔案失敗。\n",
      "不支援此命令。\n",
      "錯誤",
      "驗證 %s 失敗 \n=====================\n原因: %s\n來源: %s\n行: %s\n",
      "無法處理要求。另一個公用程式或應用程式正在執行中。\n"}},
};

}  // namespace

const char* StringTableText(int lang, int id) {
  if (id < 102 || id > 111) return nullptr;
  for (const Language& l : kLanguages)
    if (l.id == lang) return l.text[id - 102];
  return nullptr;
}

std::vector<int> StringTableLanguages() {
  std::vector<int> ids;
  for (const Language& l : kLanguages) ids.push_back(l.id);
  return ids;
}

int LanguageForLocaleName(std::string_view name) {
  // language[_territory][.codeset][@modifier]
  const size_t lang_end = name.find_first_of("_.@");
  const std::string_view lang = name.substr(0, lang_end);
  std::string_view territory;
  if (lang_end != std::string_view::npos && name[lang_end] == '_') {
    const std::string_view rest = name.substr(lang_end + 1);
    territory = rest.substr(0, rest.find_first_of(".@"));
  }
  if (lang == "zh") {
    if (territory == "TW" || territory == "HK" || territory == "MO") return 1028;
    return 2052;
  }
  static const struct {
    const char* code;
    int id;
  } kCodes[] = {{"de", 1031}, {"en", 1033}, {"fr", 1036}, {"it", 1040}, {"ja", 1041},
                {"ko", 1042}, {"nl", 1043}, {"sv", 1053}, {"es", 3082}};
  for (const auto& c : kCodes)
    if (lang == c.code) return c.id;
  return kLangEnglish;
}

}  // namespace kvx
