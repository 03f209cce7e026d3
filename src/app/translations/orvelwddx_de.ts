<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>orvelwddx</name>
    <message>
        <source>Usage: orvelwddx [switch]

Without a switch the program opens its window; while it is open, a further start brings it to the front.

  -RegServer     register the program for automation clients on the D-Bus session bus and the local
                 checking service's systemd user units, then end
  -UnregServer   remove that registration, then end
  -Embedding, -Automation
                 serve automation clients without a window (so the bus starts the program) and end
                 after their last object is released
  --help         print this help and end

Switches begin with &quot;-&quot; or &quot;/&quot;, in any letter case. The checks go to the host saved in the settings;
ORVELWDDX_HOST names it for a new settings file and for the objects of automation clients.

Exit status: 0 done, 1 the program could not start.
</source>
        <translation>Aufruf: orvelwddx [Schalter]

Ohne Schalter öffnet das Programm sein Fenster; solange es offen ist, holt ein weiterer Start es nach vorn.

  -RegServer     das Programm für Automatisierungs-Clients am D-Bus-Sitzungsbus und die systemd-Benutzer-
                 Units des lokalen Prüfdienstes anmelden, dann enden
  -UnregServer   diese Anmeldung entfernen, dann enden
  -Embedding, -Automation
                 Automatisierungs-Clients ohne Fenster bedienen (so startet der Bus das Programm) und
                 enden, wenn ihr letztes Objekt freigegeben ist
  --help         diese Hilfe ausgeben und enden

Schalter beginnen mit &quot;-&quot; oder &quot;/&quot;, Groß- und Kleinschreibung gleich. Die Prüfungen gehen an den Host aus
den Einstellungen; ORVELWDDX_HOST nennt ihn für eine neue Einstellungsdatei und für die Objekte der
Automatisierungs-Clients.

Rückgabewert: 0 erledigt, 1 das Programm konnte nicht starten.
</translation>
    </message>
</context>
</TS>
