// SPDX-License-Identifier: MIT
// The texts of all result codes, German and English, and the German
// messages for the results of a connection set-up.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "qo3964_client.h"
#include "result_codes.h"

using namespace qo3964;

// The public names of the codes are the shared ones.
constexpr bool same_code(qo3964_result published, ResultCode shared)
{
    return static_cast<int32_t>(published) == static_cast<int32_t>(shared);
}
static_assert(same_code(QO3964_TASK_IDLE, RC_SEND_IDLE));
static_assert(same_code(QO3964_SEND_DONE, RC_SEND_DONE));
static_assert(same_code(QO3964_SEND_STARTED, RC_OK));
static_assert(same_code(QO3964_IN_WORK, RC_IN_WORK));
static_assert(same_code(QO3964_ERR_TOO_SMALL, RC_TOO_LONG));
static_assert(same_code(QO3964_ERR_JOB_RUNNING, RC_JOB_RUNNING));
static_assert(same_code(QO3964_ERR_BAD_HANDLE, RC_BAD_HANDLE));
static_assert(same_code(QO3964_ERR_NO_RCFILE, RC_NO_RCFILE));
static_assert(same_code(QO3964_ERR_RCFILE, RC_RCFILE_ERROR));
static_assert(same_code(QO3964_ERR_NO_SHM, RC_NO_SEGMENT));
static_assert(same_code(QO3964_ERR_BREAK, RC_BREAK));
static_assert(same_code(QO3964_ERR_PARITY, RC_PARITY));
static_assert(same_code(QO3964_ERR_LINE, RC_LINE_ERROR));
static_assert(same_code(QO3964_ERR_NO_ACK, RC_NO_ACK));
static_assert(same_code(QO3964_ERR_RX_OVERFLOW, RC_RX_OVERFLOW));
static_assert(same_code(QO3964_ERR_RX_BCC, RC_RX_BCC));
static_assert(same_code(QO3964_ERR_RX_OCCUPIED, RC_RX_OCCUPIED));
static_assert(same_code(QO3964_ERR_NO_CONNECT, RC_NO_CONNECT));
static_assert(same_code(QO3964_ERR_RX_ZVZ, RC_RX_ZVZ));
static_assert(same_code(QO3964_ERR_RX_NO_BCC, RC_RX_NO_BCC));
static_assert(same_code(QO3964_ERR_NOT_ATTACHED, RC_NOT_ATTACHED));
static_assert(same_code(QO3964_ERR_TIMEOUT, RC_TIMEOUT));
static_assert(same_code(QO3964_ERR_SHUTDOWN, RC_SHUTDOWN));

namespace {

struct CodeText {
    int32_t code;
    const char* german;
    const char* english;
};

// Every defined code between -100 and 4. The table is wider than this
// system: it also names codes of block transfers, polling and IP links.
// Texts are exact, trailing blanks and spelling included; the German text
// of -81 holds an UTF-8 U umlaut.
constexpr std::array<CodeText, 71> code_table{{
    {4, "idle, bereit fuer neuen Auftrag",
     "task idle ( ready to be used)"},
    {3, "Poll-Daten ohne Fehler gelesen",
     "Poll - Data read without error"},
    {2, "Write ohne Fehler beendet",
     "Write terminated without error"},
    {1, "Fetch ohne Fehler beendet",
     "Fetch terminated without error"},
    {0, "Auftrag laeuft noch",
     "order is still in work"},
    {-1, "Fetch mit Fehler beendet (*)",
     "Fetch terminated with error (*)"},
    {-2, "Write mit Fehler beendet (*)",
     "Write terminated with error (*)"},
    {-3, "Poll-Daten fehlerhaft    (*)",
     "Poll-Data have errors    (*)"},
    {-4, "dwtyp falsch",
     "dwtyp wrong"},
    {-5, "dbnr falsch",
     "dbnr wrong"},
    {-6, "Start-Byte-Nr ausser Bereich",
     "start byte number out of range"},
    {-7, "Byte-Anzahl ausser Bereich",
     "count of bytes out of range"},
    {-8, "Start-Byte + Anzahl ueberschreiten max. DB-Laenge",
     "start byte + count exeed max. length of DB(DX)"},
    {-9, "kmbit falsch",
     "kmbit wrong"},
    {-10, "cpu-nr falsch",
     "cpu-nr wrong"},
    {-11, "Datenbereich auf server zu klein",
     "task block (server sided) is too small for this request"},
    {-12, "falsche Auftragsnummer",
     "task block number (handle) is wrong"},
    {-13, "Auftragbuffer nicht mehr zugeteilt zu aktueller PID",
     "task block has been released by the server"},
    {-14, "Auftragsnummer nicht geoeffnet",
     "task block (handle) has not been opened"},
    {-15, "Auftrag wurde fuer write angestossen, Fetch nicht aktiv",
     "task was started for a write task, fetch is inactive"},
    {-16, "falsche Auftragsnummer auf client-Seite",
     "task block (handle) on client side is wrong"},
    {-17, "falsche Schrittnummer: Bearbeitung asynchron",
     "invalid step number: processing is asynchronous"},
    {-18, "ungueltige Auftragsart ( kein Fetch/Write/Poll)",
     "invalid order code ( no Fetch/Write/Poll)"},
    {-19, "Pollzeit ausserhalb zulaessigem Bereich",
     "polltime out of range"},
    {-20, "alle client-seitigen Autragsnummern belegt",
     "all client sided numbers are allocated ( 0..9 )"},
    {-21, "Anmeldung: keine Auftragsnummmer frei",
     "no more free handles available"},
    {-22, "Anmeldung: kein Datenbereich der gewuenschten Groesse verfuegbar",
     "requested data range is too big, or all data buffers are allocated"},
    {-23, "Datenbaustein existiert nicht oder nicht zugreifbar",
     "requested data block not existing or not accessible"},
    {-24, "ungeradzahlige Byte-Adressen nur bei S7-Kommunikation erlaubt",
     "odd byte addresses only allowed by s7 communication"},
    {-25, "ungeradzahlige Byte-Laengen nur bei S7-Kommunikation erlaubt",
     "odd byte length only allowed by s7 communication"},
    {-26, "Auftrag bereits aktiv",
     "job already running"},
    {-31, "IP-Kopplung: Ziel-AG nicht definiert",
     "IP-link: destination plc not defined"},
    {-32, "IP-Kopplung: keine Verbindung zum AG",
     "IP-link: no connection to plc"},
    {-35, "IP-Kopplung: Timeout beim Senden",
     "IP-link: Timeout while writing to the plc"},
    {-36, "IP-Kopplung: Timeout beim Empfang Reaktionstelegramm",
     "IP-link: Timeout while receiving the REATEL reaction telegram"},
    {-37, "IP-Kopplung: Reaktionstelegramm Header falsch (assynchron)",
     "IP-link: wrong header in the reaction telegram: asynchronous"},
    {-38, "IP-Kopplung: Fehlermeldung vom AG",
     "IP-link: error message form plc"},
    {-39, "IP-Kopplung: Angeforderte Daten nicht komplett (RFC1006-Fehler)",
     "IP-link  requested data not complete (internal error of RFC1006)"},
    {-40, "IP-Kopplung: Timeout beim Empfang Daten",
     "Timeout while receiving data from the plc"},
    {-41, "IP-Kopplung: RFC1006-Fehler bei CONNECTION REQUEST",
     "IP-link error on RFC1006 while CONNECTION REQUEST"},
    {-42, "IP-Kopplung: S7-Kommunikationsfehler bei CONNECTION REQUEST",
     "IP-link error on S7-communication while CONNECTION REQUEST"},
    {-43, "IP-Kopplung: zugeteilter S7-Kommunikationsbereich zu klein",
     "IP-link error: S7-communication block too small"},
    {-44, "IP-Kopplung: unspezifizierter Fehler in S7-Kommunikation ",
     "IP-link error: undefined S7com error "},
    {-45, "IP-Kopplung: Formatfehler in RFC1006-PDU Reaktionstelegramm",
     "IP-link format error in RFC1006-PDU indication telegram"},
    {-50, "Ungueltige server-Nummer in einem qo512m-..Aufruf",
     "invalid server number while using a qo512m (= multiserver) call "},
    {-51, "qo7_open_shm(): rc-File nicht gefunden",
     "qo7_open_shm(): rc-File not found"},
    {-52, "qo7_open_shm(): Fehler bei Auswertung des rc-files",
     "qo7_open_shm(): error in rc-file"},
    {-53, "qo7_open_shm(): keine Verbindung zu shared memory moeglich",
     "qo7_open_shm(): cannot connect to the shared memory"},
    {-55, "TTY BREAK erkannt",
     "TTY BREAK detected"},
    {-56, "TTY Zeichenfehler(PARITY/FRAME)",
     "TTY PARITY or FRAME error"},
    {-57, "TTY Zeichenfehler(unspezifiziert)",
     "TTY error (unspecitied)"},
    {-60, "Protokollfehler in Kommunikationsschicht seriell",
     "protocol error in serial communication"},
    {-61, "Protokollkopffehler in Kommunikationsschicht seriell",
     "protocol error in header on serial communication"},
    {-62, "Potokollfehler: illegales Komando in Kommunikationsschicht seriell",
     "protocol error: illegal command in serial communication"},
    {-63, "CPU in Stop: Meldung von Kommunikationsschicht seriell",
     "CPU in Stop: message of serial communication"},
    {-64, "Ziel-Baustein blockiert durch Koppelmerker",
     "destination data block blocked by K-flag"},
    {-65, "Protokollfehler in Folgetelegramm Kommunikationsschicht seriell",
     "Protocol error in follow up tel. of serial communication"},
    {-66, "Timeout Empfang Kommunikationsschicht seriell",
     "Timeout on receiving in serial communication"},
    {-67, "Timeout Senden Kommunikationsschicht seriell",
     "Timeout on sending in serial communication"},
    {-70, "RESTRICTED_ACCESS: kein Leserecht fuer diesen DB",
     "RESTRICTED_ACCESS: no permission to read from this DB"},
    {-71, "RESTRICTED_ACCESS: kein Schreibrecht fuer diesen DB",
     "RESTRICTED_ACCESS: no permission to write to this DB"},
    {-80, "MPI-QO512-Adapter nicht erreichbar",
     "MPI-Adapter is not reachable ( qo512_server and option MPI2QO ON)"},
    {-81, "3964: Buffer-\xC3\x9C" "berlauf Empfang",
     "3964: buffer-overflow on receive"},
    {-82, "3964: BCC-Error Empfang",
     "3964: BCC-Error on receive"},
    {-83, "3964: Empfangsbuffer belegt,Telegramverlust ??",
     "3964: receive buffer occupied. loss of telegram ??"},
    {-84, "3964: Initialisierungskonflikt",
     "3964: Initialisation conflict"},
    {-85, "3964: Timeout ZVZ beim Empfang",
     "3964: timeout ZVZ on receiving"},
    {-86, "3964: Timeout beim BCC-Empfang",
     "3964: timeout on receiving BCC"},
    {-98, "keine shm-Verbindung zum qo*-server",
     "no connection to shm to qo*-server"},
    {-99, "timeout bei Client-Server-Kommunikation",
     "timeout at client-server communication"},
    {-100, "server shutdown",
     "server shutdown"},
}};

constexpr char DEFAULT_GERMAN[] = "Unbekannte Fehlernummer";
constexpr char DEFAULT_ENGLISH[] = "unknow error code";

struct OpenMessage {
    int32_t code;
    const char* text;
};

// Messages of clinit_result, numbered apart from the code table. The
// success line (0) and the default are formatted.
constexpr std::array<OpenMessage, 8> open_messages{{
    {-1, "\n +++ qo512_clinit:rc-File nicht gefunden\n"},
    {-2, "\n +++ qo512_clinit:Fehler bei Auswertung des rc-files\n"},
    {-4, "\n +++ qo512_clinit:keine Verbindung zu shared memory moeglich\n"},
    {-5, "\n +++ qo512_clinit:keine Verbindung zu shared memory: Server vermutlich < V 4.02\n"},
    {-6, "\n +++ qo512_clinit: kein freier Auftragsblock\n"},
    {-7, "\n +++ qo512_clinit:kein Buffer ausreichender Groesse\n"},
    {-99, "\n +++ qo512_clinit:timeout beim Verbindungsaufbau\n"},
    {-100, "\n +++ qo512_clinit:qo512_server in shutdown\n"},
}};
constexpr char OPEN_SUCCESS_NAME[] = "qo512_Verbindung";

// Result buffers, each overwritten by the next call of its own operation.
constexpr std::size_t TEXT_BUFFER_SIZE = 128;
constexpr std::size_t MESSAGE_BUFFER_SIZE = 127;
char msg_german[TEXT_BUFFER_SIZE];
char msg_english[TEXT_BUFFER_SIZE];
char meld[MESSAGE_BUFFER_SIZE];

constexpr bool every_text_fits()
{
    for (const CodeText& entry : code_table) {
        if (std::string_view(entry.german).size() >= TEXT_BUFFER_SIZE ||
            std::string_view(entry.english).size() >= TEXT_BUFFER_SIZE) {
            return false;
        }
    }
    for (const OpenMessage& entry : open_messages) {
        if (std::string_view(entry.text).size() >= MESSAGE_BUFFER_SIZE) {
            return false;
        }
    }
    return true;
}
static_assert(every_text_fits());

constexpr bool codes_unique()
{
    for (std::size_t i = 0; i < code_table.size(); ++i) {
        for (std::size_t j = i + 1; j < code_table.size(); ++j) {
            if (code_table[i].code == code_table[j].code) {
                return false;
            }
        }
    }
    return true;
}
static_assert(codes_unique());

const CodeText* find_code(int32_t code)
{
    for (const CodeText& entry : code_table) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

char* fill(char* buffer, std::size_t size, const char* text)
{
    std::snprintf(buffer, size, "%s", text);
    return buffer;
}

}  // namespace

extern "C" char* qo3964_errortext(int code)
{
    const CodeText* entry = find_code(code);
    return fill(msg_german, sizeof msg_german, entry != nullptr ? entry->german : DEFAULT_GERMAN);
}

extern "C" char* qo3964_errortext_en(int code)
{
    const CodeText* entry = find_code(code);
    return fill(msg_english, sizeof msg_english, entry != nullptr ? entry->english : DEFAULT_ENGLISH);
}

extern "C" char* clinit_result(int code)
{
    if (code == 0) {
        std::snprintf(meld, sizeof meld, "\n +++ %s: fehlerfrei\n", OPEN_SUCCESS_NAME);
        return meld;
    }
    for (const OpenMessage& entry : open_messages) {
        if (entry.code == code) {
            return fill(meld, sizeof meld, entry.text);
        }
    }
    std::snprintf(meld, sizeof meld, "\n +++ qo512_clinit: Fehlernummer %d nicht bekannt\n", code);
    return meld;
}
