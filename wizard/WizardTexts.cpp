// The interface texts of the wizard, one table per page. Texts are exact, typing slips included:
// support staff recognise the wizard's screens by them.
#include "wizard/WizardTexts.h"

namespace kvxui {

namespace {

#define KVX_ROWS(table) STextTable{table, sizeof(table) / sizeof(table[0])}

const STextRow kFrame[] = {
    {btCancel, 0, L"&Cancelar", L"&Cancel"},
    {btNext, 0, L"&Siguiente  >", L"&Next  >"},
    {btBack, 0, L"<   &Atrás", L"<   &Back"},
    {lbDataObtain, 0, L"Obtención de datos", L"Data collection"},
    {lbBasicAnalysis, 0, L"Análisis básico", L"Basic analysis"},
    {lbDeepAnalysis, 0, L"Análisis en profundidad", L"In-depth analysis"},
    {lbSendToOrvex, 0, L"Envío a Orvex", L"Send to Orvex"},
    {lbInitialCheck, 0, L"Verificación inicial", L"Initial checking"},
};

const STextRow kPage0[] = {
    {Label3, 0, L"¡ Bienvenido!", L"Welcome!"},
    {Label7, 0, L"El asistente le guiará durante el análisis y obtención de datos para la resolución de su incidencia.",
     L"The wizard will guide you through the analysis and collection of data needed to resolve the problem."},
    {Label45, 0, L"Antes de  comenzar compruebe que el router o modem está encendido y funciona correctamente.",
     L"Before starting check that the router or modem is switched on and operating correctly."},
};

const STextRow kPage1[] = {
    {Label8, 0, L"Para continuar debe aceptar el presente acuerdo de liecencia.",
     L"To continue, you must accept the license agreement."},
    {cbLicenseAccept, 0, L"He leído y acepto los términos de la licencia.",
     L"I have read and accept the terms of the license."},
};

const STextRow kPage2[] = {
    {Label2, 0, L"Escriba la descripción del problema y los pasos que sigue para su reproducción:",
     L"Write the description of the problem and the steps to reproduce it:"},
    {Label9, 0, L"Introduzca su número de incidencia:", L"Please enter your incident number:"},
};

const STextRow kPage3[] = {
    {RichEdit1, 0, L"Antes de comenzar con el análisis es importante que se verifiques los siguientes puntos",
     L"Before starting the analysis it is important to check the following points."},
    {RichEdit1, 1, L"", L""},
    {RichEdit1, 2, L"    ·   Si tienes una conexión física, comprueba que el router o modem esta correctamente ",
     L"    ·   If you have a physical connection, check that the router or modem is correctly"},
    {RichEdit1, 3, L"        conectados a tu ordenador.", L"        connected to your computer."},
    {RichEdit1, 4, L"", L""},
    {RichEdit1, 5, L"    ·   Si dispones de una conexión wireless, comprueba que dispones de señal y que los ",
     L"    ·   If you have a wireless connection, check there is a signal and that the"},
    {RichEdit1, 6, L"        parámetros de asociación a la red son correctos.",
     L"        parameters for association with the network are correct."},
    {RichEdit1, 7, L"", L""},
    {RichEdit1, 8, L"    ·   Si usas Internet, verifica que el modem/router esta conectado conectado ",
     L"    ·   If you use the Internet, check the modem/router is connected "},
    {RichEdit1, 9, L"correctamente a la ", nullptr},
    {RichEdit1, 10, L"        red RTB, ADSL o Cable. (Si recibes servicio a través de Wifi, omite este paso)",
     L"        RTB, ADSL or cable network. (If you have a WiFi network omit this step)"},
    {RichEdit1, 11, L"", L""},
    {RichEdit1, 12, L"    ·   Comprueba que tu dispositivo e conexión a red (Modem, router, Punto de acceso, ",
     L"    ·   Check your device and network connection (Modem, router, access point, "},
    {RichEdit1, 13, L"switch, ", L"switch, "},
    {RichEdit1, 14, L"        etc...) esta encendido y funciona correctamente.",
     L"        etc...) is switched on and functioning correctly."},
};

const STextRow kPage4[] = {
    {Label4, 0,
     L"Se ha detectado que la protección Firewall no esta correctamente instalada. Esto puede deberse a operaciones "
     L"realizadas por nuestro departamento de Soporte Técnico.",
     L"The firewall protection is not correctly installed. This could be due to operations carried out by our Tech "
     L"Support department."},
    {Label1, 0,
     L"Si esta herramienta no es capaz de solucionar el problema, deberá ponerse en contacto con Soporte Técnico. A "
     L"continuación se detallan los problemas encontrados:",
     L"If this tool is not able to resolve the problem, you should contact Tech Support. Below you'll find the details "
     L"of the problems encountered:"},
    {ListView1, eListView_COLUMN_FILTER, L"Filtro", L"Filter"},
    {ListView1, eListView_COLUMN_PROBLEM, L"Problema", L"Problem"},
    {ListView1, eListView_COLUMN_SOLUTION, L"Solución", L"Solution"},
    {ListView1, eListView_STATE_DISABLED, L"Desactivado", L"Disabled"},
    {ListView1, eListView_STATE_NOT_FOUND, L"No encontrado", L"Not found"},
    {btRefresh, 0, L"Actualizar", L"Update"},
    {cbIgnoreFiltersErrors, 0, L"Continuar incluso con filltros desactivados", L"Continue even with filters disabled"},
};

const STextRow kPage5[] = {
    {Label10, 0,
     L"Espere a que finalice la obtención de información. Este proceso puede tardar un poco, ten paciencia, por favor.",
     L"Please wait until the information has been collected. This process could take a little time."},
    {Label5, 0, L"Consultando servicios de red...", L"Consulting network services..."},
};

const STextRow kPage6[] = {
    {Label11, 0, L"La herramienta ha encontrado los siguientes problemas:", L"The tool has detected the following problems:"},
    {Label6, 0,
     L"A continuación de lanzarán una serie de diagnósticos y operaciones para intentar encontrar la causa del "
     L"problema. Durante la operación se recogerán datos que permitirán a nuestro departamento técnico, solucionar el "
     L"problema.",
     L"Now a series of diagnostic tests will be launched to find the cause of the problem.  During this operation data "
     L"will be collected that will help our technical department resolve the problem."},
    {Label12, 0, L"Para continuar pulse \"Siguiente >\".", L"To continue, click \"Next >\"."},
};

const STextRow kPage7[] = {
    {lbDiagnosisEnd, 0,
     L"El diagnóstico ha finalizado. Se ha recabado información muy importante para el análisis de la incidencia, pero "
     L"lamentablemente, no fue posible localizar ningún problema que pueda afectar al funcionamiento del Firewall.",
     L"The diagnosis has ended. Important information has been collected to analyze the incident but unfortunately it "
     L"has not been possible to locate the problem that is affecting the functionality of the firewall."},
    {lbBasicAnalysisPresentation, 0,
     L"A continuación se procederá a un análisis básico, para intentar acotar al máximo la incidencia ",
     L"Now a basic analysis will be launched to detect the incidences and come up with a good solutión for your "
     L"problem. In order to carry on the analyze your cooperation is needed and it's possible the tool could make you "
     L"some questions."},
    {lbBasicAnalysisPresentation, 1,
     L"e intentar encontrar una solución para tu problema. Para llevar a cabo el análisis es necesaria ", L""},
    {lbBasicAnalysisPresentation, 2,
     L"tu colaboración y es posible que la herramienta te formule alguna pregunta.", L""},
};

const STextRow kPage8[] = {
    {Label13, 0, L"Espere a que finalice el análisis. Este proceso puede tardar un poco, ten paciencia, por favor.",
     L"Please wait until the analysis has finished. This process could take a little time."},
    {Label14, 0, L"Analizando...", L"Analizying..."},
};

// Label16 and Label17 are written in full: a shortened explanation would end in the middle of a word.
const STextRow kPage9[] = {
    {Label15, 0, L"La herramienta ha conseguido encontrar y solucionar la causa que origino los problemas:",
     L"The tool has managed to find and resolve the cause of the problem:"},
    {Label16, 0,
     L"Es posible que el problema ya esté solucionado. Compruebe ahora si el problema que originó su consulta sigue "
     L"reproduciéndose y marque a continuación el resultado que corresponda.",
     L"The problem may now be solved. Please check now whether the problem that caused your enquiry still occurs and "
     L"mark the corresponding result below."},
    {RadioButton1, 0, L"¡Solucionado! El problema ha dejado de reproducirse", L"Resolved!  The problem no longer occurs."},
    {RadioButton2, 0, L"¡No solucionado! El problema sigue reproduciendose", L"Not resolved! The problem continues to occur."},
    {Label17, 0,
     L"Tenga en cuenta que se trata de una solución temporal: mientras se mantenga, la seguridad de su sistema puede no "
     L"ser la más adecuada. Complete el asistente hasta el final para que la información recogida llegue a nuestro "
     L"departamento técnico y pueda preparar una solución definitiva.",
     L"Please note that this is a temporary solution: while it remains in place, the security of your system may not "
     L"be at its best. Complete the wizard to the end so that the information collected reaches our technical "
     L"department and a definitive solution can be prepared."},
};

const STextRow kPage10[] = {
    {Label20, 0,
     L"Se han realizado ajustes en la configuración del sistema. Intente reproducir el problema que originó su consulta.",
     L"Adjustments have been made to the system settings. Try to reproduce the problem again."},
    {Label22, 0, L"¿Se ha solucionado?", L"Has it been resolved?"},
    {rbBAUserResponseFixed, 0, L"Sí, el problema no se reproduce", L"Yes, the problem does not occur"},
    {rbBAUserResponseNotFixed, 0, L"No, el problema sigue reproduciéndose", L"No, the problem continues to occur."},
};

const STextRow kPage11[] = {
    {Label24, 0,
     L"El análisis básico de tu sistema no ha sido suficiente para determinar el origen del problema. Será necesario "
     L"realizar un análisis en profundidad para al menos obtener información útil para nuestro departamento técnico, "
     L"encuentre una solución.",
     L"The basic analysis of your system has not been sufficient to identify the problem.  An in-depth analysis will be "
     L"necessary to find enough information so that our technical department can resolve the problem."},
    {Label25, 0,
     L"El análisis en profundidad es un ciclo de operaciones que, con toda probabilidad, necesitará reiniciar el equipo "
     L"varias veces. No se preocupe: después de cada reinicio el asistente volverá a abrirse por sí solo y supervisará "
     L"todo el proceso hasta el final.",
     L"The in-depth analysis is a cycle of operations that will most likely need to restart the computer several "
     L"times. Don't worry: after each restart the wizard will open again by itself and will supervise the whole "
     L"process until it ends."},
};

const STextRow kPage12[] = {
    {Label27, 0,
     L"Se han realizado ajustes en la configuración del sistema y es necesario reiniciar el equipo para continuar con la "
     L"resolución de la incidencia. Guarde los documentos abiertos para no perder los cambios.",
     L"Adjustments have been made to the system settings and you must restart your computer to resolve the problem. "
     L"Save any open documents in order not to lose the changes you have made."},
    {lbRebootProgress, 0, L"El ordenador se reiniciará en 10 segundos ...", L"The computer will restart in 10 seconds..."},
    {Button1, 0, L"Reiniciar ahora", L"Restart now"},
};

const STextRow kPage13[] = {
    {Label34, 0,
     L"Ahora debes comprobar si el problema original se ha solucionado o por el contrario, sigue reproduciendose. Luego "
     L"elige la opción apropiada:",
     L"Now you must check to see if the original problem has been resolved or if it continues to occur. Then choose the "
     L"corresponding option:"},
    {Label33, 0,
     L"Como parte del análisis en profundidad, el sistema se ha reiniciado con una nueva configuración. En la lista "
     L"superior puede consultar los problemas diagnosticados tal y como han quedado después del reinicio.",
     L"As part of the in-depth analysis, the system has been restarted with a new configuration. The list above shows "
     L"the problems diagnosed as they stand after the restart."},
    {RadioButton7, 0, L"¡El problema se ha solucionado!", L"The problem is resolved!"},
    {RadioButton8, 0, L"¡El problema sigue reproduciendose!", L"The problem continues to occur!"},
};

const STextRow kPage14[] = {
    {Label29, 0,
     L"El equipo ha sido reiniciado y se ha arrancado con la nueva configuración. Intente reproducir el problema que "
     L"originó su consulta.",
     L"The computer has been restarted with the new settings. Try reproducing the problem that caused the incident."},
    {Label31, 0, L"¿Se ha solucionado?", L"Has it been resolved?"},
    {rbBDAUserResponseFixed, 0, L"Sí, el problema no se reproduce", L"Yes, the problem does not occur"},
    {rbDAUserResponseNotFixed, 0, L"No, el problema sigue reproduciéndose", L"No, the problem continues to occur."},
};

const STextRow kPage15[] = {
    {Label35, 0,
     L"No ha sido posible determinar el origen del problema. No se preocupe, los datos recogidos durante el análisis "
     L"ayudarán a nuestro departamento técnico a encontrar la solución a su problema.",
     L"It has not been possible to determine the cause of the problem.  Don't worry, the data gathered during the "
     L"analysis will help our technical department find a solution to your problem."},
    {Label36, 0, L"A continuación podrá guardar los datos recogidos.", L"Next you will be able to save the collected data."},
    {Label21, 0, L"No se ha encontrado el origen del problema",
     L"It has not been possible to determine the cause of the problem."},
};

const STextRow kPage16[] = {
    {Label37, 0,
     L"Se ha solucionado el problema aplicando una solución temporal. Los datos recogidos durante el análisis ayudarán "
     L"a nuestro departamento técnico a encontrar la solución definitiva a su problema.",
     L"The problem has been resolved by applying a temporary solution. The data gathered during the analysis will help "
     L"our technical department find a definitive solution to your problem."},
    {Label38, 0, L"A continuación podrá guardar los datos recogidos.", L"Next you will be able to save the collected data."},
    {Label23, 0, L"Se ha encontrado el origen del problema", L"The cause of the problem has been found"},
    {Label26, 0,
     L"Recuerde que la solución temporal implica la desactivación de parte de la protección Firewall. Para reactivarla, "
     L"ejecute de nuevo este asistente y realice las reparaciones que le indica.",
     L"Remember that the temporary solution involves disabling part of the firewall protection. To reactivate it, run "
     L"this Wizard again and follow the steps indicated."},
    {CheckBox1, 0, L"Mantener aplicada la solución temporal", L"Continue to apply the temporary solution"},
};

const STextRow kPage17[] = {
    {Label39, 0, L"¡Operación cancelada a petición suya!", L"The operation has been canceled at your request!"},
    {Label40, 0,
     L"Todas operación en curso y pendientes fueron canceladas de forma correcta. Ahora puede cerrar el asistente...",
     L"All operations in progress or pending were canceled correctly. You can now close the Wizard..."},
    {Label41, 0, L"Cancelando operaciones pendientes...", L"Canceling operations pending..."},
};

const STextRow kPage19[] = {
    {Label18, 0,
     L"Guarde los datos obtenidos durante el análisis y póngase en contacto con Soporte Técnico para que le indiquen "
     L"cómo enviarlos. Soporte Técnico",
     L"Save the data obtained during the analysis and contact Tech Support so they can indicate how to send it. Tech "
     L"Support"},
    {Label19, 0, L"Guardar en:", L"Save in:"},
    {Label30, 0, L"Guardar datos obtenidos", L"Save the data obtained"},
    {btBrowse, 0, L"...", L"..."},
    {lbPackageContents, 0,
     L"El paquete contiene el informe del análisis y datos de este equipo: su configuración y direcciones de red, los "
     L"nombres del equipo, del dominio y de los usuarios, la caché DNS (los sitios visitados hace poco), el fichero "
     L"hosts, los registros de eventos, volcados de memoria y capturas de red.",
     L"The package holds the analysis report and data from this computer: its network settings and addresses, the "
     L"names of the computer, the domain and the users, the DNS cache (recently visited sites), the hosts file, the "
     L"event logs, memory dumps and network captures."},
    {cbRemovePersonalData, 0, L"Quitar los datos personales del paquete", L"Remove personal data from the package"},
};

const STextRow kPage20[] = {
    {Label28, 0, L"¡ El asistente a finalizado!", L"The Wizard has finished!"},
    {Label42, 0, L"Gracias por confiar en los productos de Orvex Security.", L"Thank you for choosing Orvex Security products."},
    {Label43, 0, L"Recuerde que el departamento técnico trabajará en la solución a su problema.",
     L"Remember that our technical department will work to find a solution to your problem."},
};

const STextTable kPages[KVXDIAG2_PAGE_COUNT] = {
    KVX_ROWS(kPage0),  KVX_ROWS(kPage1),  KVX_ROWS(kPage2),  KVX_ROWS(kPage3),  KVX_ROWS(kPage4),  KVX_ROWS(kPage5),
    KVX_ROWS(kPage6),  KVX_ROWS(kPage7),  KVX_ROWS(kPage8),  KVX_ROWS(kPage9),  KVX_ROWS(kPage10), KVX_ROWS(kPage11),
    KVX_ROWS(kPage12), KVX_ROWS(kPage13), KVX_ROWS(kPage14), KVX_ROWS(kPage15), KVX_ROWS(kPage16), KVX_ROWS(kPage17),
    STextTable{nullptr, 0}, KVX_ROWS(kPage19), KVX_ROWS(kPage20),
};

struct SCodeText {
    const wchar_t* spanish;
    const wchar_t* english;
};

const SCodeText kCodeTexts[eCodeText_COUNT] = {
    {L"&Cerrar", L"&Close"},
    {L"¿Desea cancelar la obtención de datos y resolución de incidencias?",
     L"Do you want to cancel data collection and resolution of incidents?"},
    {L"Imposible cargar el motor de KVXDiag. La aplicación se cerrará. Contacte con el servicio de Soporte Técnico.",
     L"Cannot load the KVXDiag engine. The application will close. Contact the Tech Support service."},
    {L"Su ordenador se reinciará en ", L"Your computer will restart in "},
    {L" segundos...", L" seconds..."},
    {L"KVXDiag2 necesita reiniciar el sistema operativo para establecer ciertos ajustes y chequeos y poder así "
     L"funcionar correctamente.\n ¿Desea reiniciar el S.O ahora?",
     L"KVXDiag2 needs to reboot the system in order to make some configuration changes and work properly.\n Do you "
     L"want to reboot the system now?"},
    {L"KVXDiag2 necesita reiniciar el sistema operativo para reestablecer los ajustes originales. ¿Desea reiniciar el "
     L"S.O ahora?",
     L"KVXDiag2 needs to reboot the system to recover the original settings. Do you want to reboot the system now?"},
};

const STextTable kFrameTable = KVX_ROWS(kFrame);

#undef KVX_ROWS

void AppendRows(const STextTable& table, int control, ELanguage language, std::wstring& text, bool& found)
{
    const ERowJoin join = RowJoin(control);
    for (size_t i = 0; i < table.count; ++i) {
        const STextRow& row = table.rows[i];
        if (row.control != control) {
            continue;
        }
        if (found && join == eRowJoin_LINES) {
            text += L"\r\n";
        }
        text += RowText(row, language);
        found = true;
    }
}

} // namespace

const char* const KVXDIAG2_PAGE_CAPTIONS[KVXDIAG2_PAGE_COUNT] = {
    "Initial",
    "LicenseAgreement",
    "UserInfo",
    "InitialUserChecks",
    "FiltersStatus",
    "DiagnosticInProgress",
    "DiagnosticResults",
    "DiagnosticNoResults",
    "BasicAnalysisInProgress",
    "BasicAnalysisProblemFixed",
    "BasicAnalysisUserAsk",
    "BasicAnalysisUnsuccess",
    "DeepAnalysisReboot",
    "DeepAnalysisProblemFixed",
    "DeepAnalysisUserAsk",
    "DeepAnalysisUnsuccess",
    "DeepAnalysisSuccess",
    "UserCancel",
    "SendToOrvex",
    "SaveToDisk",
    "The End",
};

const char* ControlName(int id)
{
    switch (id) {
#define KVXDIAG2_CONTROL_NAME(name)                                                                                  \
    case name:                                                                                                       \
        return #name;
        KVXDIAG2_FORM_CONTROLS(KVXDIAG2_CONTROL_NAME)
#undef KVXDIAG2_CONTROL_NAME
    default:
        return nullptr;
    }
}

int ControlId(const char* name)
{
    if (name == nullptr) {
        return 0;
    }
    for (int id = KVXDIAG2_CONTROL_FIRST + 1; id < KVXDIAG2_CONTROL_END; ++id) {
        if (lstrcmpA(ControlName(id), name) == 0) {
            return id;
        }
    }
    return 0;
}

ELanguage ChooseLanguage(LANGID langId)
{
    switch (langId & 0xFF) {
    case 3:  // Catalan
    case 10: // Spanish
    case 45: // Basque
    case 86: // Galician
        return eLanguage_SPANISH;
    default:
        return eLanguage_ENGLISH;
    }
}

STextTable FrameTexts() { return kFrameTable; }

STextTable PageTexts(int page)
{
    if (page < 0 || page >= KVXDIAG2_PAGE_COUNT) {
        return STextTable{nullptr, 0};
    }
    return kPages[page];
}

const wchar_t* RowText(const STextRow& row, ELanguage language)
{
    if (language == eLanguage_ENGLISH && row.english != nullptr) {
        return row.english;
    }
    return row.spanish;
}

ERowJoin RowJoin(int control)
{
    return control == lbBasicAnalysisPresentation ? eRowJoin_PARAGRAPH : eRowJoin_LINES;
}

std::wstring ControlText(int control, ELanguage language)
{
    std::wstring text;
    bool found = false;
    AppendRows(kFrameTable, control, language, text, found);
    for (int page = 0; page < KVXDIAG2_PAGE_COUNT && !found; ++page) {
        AppendRows(kPages[page], control, language, text, found);
    }
    return text;
}

const wchar_t* CodeText(ECodeText text, ELanguage language)
{
    if (text < 0 || text >= eCodeText_COUNT) {
        return L"";
    }
    return language == eLanguage_ENGLISH ? kCodeTexts[text].english : kCodeTexts[text].spanish;
}

} // namespace kvxui
