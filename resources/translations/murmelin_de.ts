<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>TForm1</name>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen …</translation>
    </message>
</context>
<context>
    <name>TForm2</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Level [dB]</source>
        <translation>Pegel [dB]</translation>
    </message>
    <message>
        <source>Sample rate [Hz]</source>
        <translation>Abtastrate [Hz]</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>Channels</source>
        <translation>Kanäle</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Links</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Rechts</translation>
    </message>
    <message>
        <source>Soft onset</source>
        <translation>Sanfter Einsatz</translation>
    </message>
    <message>
        <source>Soundcard</source>
        <translation>Soundkarte</translation>
    </message>
    <message>
        <source>&amp;Stop after</source>
        <translation>&amp;Stoppen nach</translation>
    </message>
    <message>
        <source>About Murmelin</source>
        <translation>Über Murmelin</translation>
    </message>
</context>
<context>
    <name>command_line</name>
    <message>
        <source>Murmelin %1
Copyright (C) BriskoData
License %2: GNU GPL version 3 or later &lt;https://gnu.org/licenses/gpl.html&gt;.
This is free software: you are free to change and redistribute it.
There is NO WARRANTY, to the extent permitted by law.
</source>
        <translation>Murmelin %1
Copyright (C) BriskoData
Lizenz %2: GNU GPL Version 3 oder neuer &lt;https://gnu.org/licenses/gpl.html&gt;.
Dies ist freie Software: Sie dürfen sie ändern und weitergeben.
Es gibt KEINE GARANTIE, soweit gesetzlich zulässig.
</translation>
    </message>
    <message>
        <source>Usage: murmelin [OPTION]
Plays continuous 16-bit stereo pink noise on an audio output device. Press Play in the
window to start and stop the noise; &quot;Settings...&quot; chooses the level, sample rate,
channels, soft onset, output device and a time after which the noise stops.

Options:
  -h, --help     show this help and exit
  -v, --version  show the version and licence and exit

Settings file: %1
  (under $XDG_CONFIG_HOME instead of ~/.config when that is set)
Home page: %2
</source>
        <translation>Aufruf: murmelin [OPTION]
Spielt fortlaufend rosa Rauschen in 16 Bit Stereo auf einem Audioausgabegerät. „Abspielen“ im
Fenster startet und stoppt das Rauschen; „Einstellungen …“ wählt Pegel, Abtastrate,
Kanäle, sanften Einsatz, Ausgabegerät und eine Zeit, nach der das Rauschen endet.

Optionen:
  -h, --help     diese Hilfe zeigen und beenden
  -v, --version  Version und Lizenz zeigen und beenden

Einstellungsdatei: %1
  (unter $XDG_CONFIG_HOME statt ~/.config, wenn das gesetzt ist)
Webseite: %2
</translation>
    </message>
    <message>
        <source>murmelin: unknown option &apos;%1&apos; (try &apos;murmelin --help&apos;)
</source>
        <translation>murmelin: unbekannte Option „%1“ (siehe „murmelin --help“)
</translation>
    </message>
</context>
<context>
    <name>display_session</name>
    <message>
        <source>Murmelin needs Qt&apos;s Wayland platform plugin to open a window on this Wayland session; install the package qt6-wayland.</source>
        <translation>Murmelin braucht das Wayland-Plattform-Plugin von Qt, um auf dieser Wayland-Sitzung ein Fenster zu öffnen; installieren Sie das Paket qt6-wayland.</translation>
    </message>
    <message>
        <source>Murmelin needs Qt&apos;s X11 platform plugin to open a window on this X11 session; install the package libqt6gui6.</source>
        <translation>Murmelin braucht das X11-Plattform-Plugin von Qt, um auf dieser X11-Sitzung ein Fenster zu öffnen; installieren Sie das Paket libqt6gui6.</translation>
    </message>
    <message>
        <source>Murmelin needs a graphical desktop session (X11 or Wayland), and none could be reached.</source>
        <translation>Murmelin braucht eine grafische Desktop-Sitzung (X11 oder Wayland), aber keine war erreichbar.</translation>
    </message>
    <message>
        <source>Murmelin could not open its window system.</source>
        <translation>Murmelin konnte sein Fenstersystem nicht öffnen.</translation>
    </message>
</context>
<context>
    <name>mpris</name>
    <message>
        <source>Pink noise</source>
        <translation>Rosa Rauschen</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <extracomment>The level in the media controls, and the clock time at which a timer stops the noise.</extracomment>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>%1 dB, until %2</source>
        <translation>%1 dB, bis %2</translation>
    </message>
</context>
<context>
    <name>murmelin::TAbout</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Compiled %1</source>
        <translation>Erstellt am %1</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Version %1 for %2</source>
        <extracomment>The about box&apos;s version line: the version, then the systems it runs on.</extracomment>
        <translation>Version %1 für %2</translation>
    </message>
    <message>
        <source>A Corvel application</source>
        <translation>Eine Corvel-Anwendung</translation>
    </message>
    <message>
        <source>Pink noise, simply</source>
        <translation>Rosa Rauschen, ganz einfach</translation>
    </message>
</context>
<context>
    <name>murmelin::TForm1</name>
    <message>
        <source>Press play to play pink noise</source>
        <translation>Zum Abspielen von rosa Rauschen „Abspielen“ drücken</translation>
    </message>
    <message>
        <source>Playing pink noise</source>
        <translation>Rosa Rauschen wird abgespielt</translation>
    </message>
    <message>
        <source>Overload, reduce level!</source>
        <translation>Übersteuerung, Pegel senken!</translation>
    </message>
    <message>
        <source>%1 – until %2</source>
        <extracomment>The main window&apos;s title while a timer runs: the program&apos;s name, then the clock time at which the noise stops.</extracomment>
        <translation>%1 – bis %2</translation>
    </message>
    <message>
        <source>%1
 does not contain options for Murmelin</source>
        <translation>%1
 enthält keine Einstellungen für Murmelin</translation>
    </message>
    <message>
        <source>Wrong file type: &quot;%1&quot;</source>
        <translation>Falscher Dateityp: „%1“</translation>
    </message>
</context>
<context>
    <name>murmelin::TForm2</name>
    <message>
        <source>&apos;&apos;%1&apos;&apos; is not a valid integer value</source>
        <translation>„%1“ ist keine gültige ganze Zahl</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a valid floating point value</source>
        <translation>„%1“ ist keine gültige Kommazahl</translation>
    </message>
    <message>
        <source>System default soundcard</source>
        <translation>Standard-Soundkarte des Systems</translation>
    </message>
    <message>
        <source>Never</source>
        <comment>stop after</comment>
        <translation>Nie</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 h</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
</context>
<context>
    <name>sleep_inhibitor</name>
    <message>
        <source>Playing pink noise</source>
        <translation>Rosa Rauschen wird abgespielt</translation>
    </message>
    <message>
        <source>murmelin: the computer may suspend while the noise plays: neither the desktop portal nor logind holds off suspend for it</source>
        <translation>murmelin: Der Computer kann in Bereitschaft gehen, während das Rauschen spielt: weder das Desktop-Portal noch logind verhindern es</translation>
    </message>
</context>
<context>
    <name>waveout</name>
    <message>
        <source>The operation completed successfully.</source>
        <translation>Der Vorgang wurde erfolgreich abgeschlossen.</translation>
    </message>
    <message>
        <source>An unspecified error occurred in the sound system.</source>
        <translation>Im Soundsystem ist ein nicht näher bestimmter Fehler aufgetreten.</translation>
    </message>
    <message>
        <source>There is no output device with this number.</source>
        <translation>Es gibt kein Ausgabegerät mit dieser Nummer.</translation>
    </message>
    <message>
        <source>The sound system is not enabled.</source>
        <translation>Das Soundsystem ist nicht aktiviert.</translation>
    </message>
    <message>
        <source>The output device is busy or could not be opened.</source>
        <translation>Das Ausgabegerät ist belegt oder konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>The handle does not name an open output device.</source>
        <translation>Das Handle bezeichnet kein geöffnetes Ausgabegerät.</translation>
    </message>
    <message>
        <source>No sound server is running, and no other sound output is available.</source>
        <translation>Es läuft kein Soundserver, und keine andere Tonausgabe ist verfügbar.</translation>
    </message>
    <message>
        <source>There is not enough memory for the operation.</source>
        <translation>Für den Vorgang ist nicht genug Speicher vorhanden.</translation>
    </message>
    <message>
        <source>The output device does not support this operation.</source>
        <translation>Das Ausgabegerät unterstützt diesen Vorgang nicht.</translation>
    </message>
    <message>
        <source>The error number is unknown.</source>
        <translation>Die Fehlernummer ist unbekannt.</translation>
    </message>
    <message>
        <source>An invalid flag was given.</source>
        <translation>Es wurde ein ungültiges Flag angegeben.</translation>
    </message>
    <message>
        <source>An invalid parameter was given.</source>
        <translation>Es wurde ein ungültiger Parameter angegeben.</translation>
    </message>
    <message>
        <source>The output device cannot play this sample format.</source>
        <translation>Das Ausgabegerät kann dieses Sample-Format nicht abspielen.</translation>
    </message>
    <message>
        <source>Buffers are still queued on the output device.</source>
        <translation>Auf dem Ausgabegerät warten noch Puffer.</translation>
    </message>
    <message>
        <source>The buffer has not been prepared.</source>
        <translation>Der Puffer wurde nicht vorbereitet.</translation>
    </message>
    <message>
        <source>The output device can only be used synchronously.</source>
        <translation>Das Ausgabegerät kann nur synchron verwendet werden.</translation>
    </message>
    <message>
        <source>The sound server does not answer.</source>
        <translation>Der Soundserver antwortet nicht.</translation>
    </message>
    <message>
        <source>The sound server or the output device went away.</source>
        <translation>Der Soundserver oder das Ausgabegerät ist verschwunden.</translation>
    </message>
    <message>
        <source>Unknown sound system error %1.</source>
        <translation>Unbekannter Fehler %1 im Soundsystem.</translation>
    </message>
</context>
</TS>
