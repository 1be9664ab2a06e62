<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>TForm1</name>
    <message>
        <source>Play</source>
        <translation>Lecture</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Paramètres…</translation>
    </message>
</context>
<context>
    <name>TForm2</name>
    <message>
        <source>Settings</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>Level [dB]</source>
        <translation>Niveau [dB]</translation>
    </message>
    <message>
        <source>Sample rate [Hz]</source>
        <translation>Échantillonnage [Hz]</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Annuler</translation>
    </message>
    <message>
        <source>Channels</source>
        <translation>Canaux</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Gauche</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Droite</translation>
    </message>
    <message>
        <source>Soft onset</source>
        <translation>Attaque douce</translation>
    </message>
    <message>
        <source>Soundcard</source>
        <translation>Carte son</translation>
    </message>
    <message>
        <source>&amp;Stop after</source>
        <translation>A&amp;rrêter après</translation>
    </message>
    <message>
        <source>About Murmelin</source>
        <translation>À propos de Murmelin</translation>
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
Licence %2 : GNU GPL version 3 ou ultérieure &lt;https://gnu.org/licenses/gpl.html&gt;.
Ceci est un logiciel libre : vous êtes libre de le modifier et de le redistribuer.
Il n’y a AUCUNE GARANTIE, dans la mesure permise par la loi.
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
        <translation>Utilisation : murmelin [OPTION]
Joue en continu du bruit rose stéréo 16 bits sur un périphérique de sortie audio. Appuyez sur
« Lecture » dans la fenêtre pour lancer et arrêter le bruit ; « Paramètres… » choisit le niveau,
la fréquence d’échantillonnage, les canaux, l’attaque douce, la sortie et une durée après laquelle le bruit s’arrête.

Options :
  -h, --help     afficher cette aide et quitter
  -v, --version  afficher la version et la licence et quitter

Fichier de paramètres : %1
  (sous $XDG_CONFIG_HOME au lieu de ~/.config lorsque cette variable est définie)
Site web : %2
</translation>
    </message>
    <message>
        <source>murmelin: unknown option &apos;%1&apos; (try &apos;murmelin --help&apos;)
</source>
        <translation>murmelin&#xa0;: option inconnue «&#xa0;%1&#xa0;» (essayez «&#xa0;murmelin --help&#xa0;»)
</translation>
    </message>
</context>
<context>
    <name>display_session</name>
    <message>
        <source>Murmelin needs Qt&apos;s Wayland platform plugin to open a window on this Wayland session; install the package qt6-wayland.</source>
        <translation>Murmelin a besoin du module de plateforme Wayland de Qt pour ouvrir une fenêtre dans cette session Wayland ; installez le paquet qt6-wayland.</translation>
    </message>
    <message>
        <source>Murmelin needs Qt&apos;s X11 platform plugin to open a window on this X11 session; install the package libqt6gui6.</source>
        <translation>Murmelin a besoin du module de plateforme X11 de Qt pour ouvrir une fenêtre dans cette session X11 ; installez le paquet libqt6gui6.</translation>
    </message>
    <message>
        <source>Murmelin needs a graphical desktop session (X11 or Wayland), and none could be reached.</source>
        <translation>Murmelin a besoin d’une session de bureau graphique (X11 ou Wayland), et aucune n’a pu être atteinte.</translation>
    </message>
    <message>
        <source>Murmelin could not open its window system.</source>
        <translation>Murmelin n’a pas pu ouvrir son système de fenêtres.</translation>
    </message>
</context>
<context>
    <name>mpris</name>
    <message>
        <source>Pink noise</source>
        <translation>Bruit rose</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <extracomment>The level in the media controls, and the clock time at which a timer stops the noise.</extracomment>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>%1 dB, until %2</source>
        <translation>%1 dB, jusqu’à %2</translation>
    </message>
</context>
<context>
    <name>murmelin::TAbout</name>
    <message>
        <source>About</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>Compiled %1</source>
        <translation>Compilé le %1</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Version %1 for %2</source>
        <extracomment>The about box&apos;s version line: the version, then the systems it runs on.</extracomment>
        <translation>Version %1 pour %2</translation>
    </message>
    <message>
        <source>A Corvel application</source>
        <translation>Une application Corvel</translation>
    </message>
    <message>
        <source>Pink noise, simply</source>
        <translation>Le bruit rose, tout simplement</translation>
    </message>
</context>
<context>
    <name>murmelin::TForm1</name>
    <message>
        <source>Press play to play pink noise</source>
        <translation>Appuyez sur Lecture pour jouer du bruit rose</translation>
    </message>
    <message>
        <source>Playing pink noise</source>
        <translation>Lecture de bruit rose en cours</translation>
    </message>
    <message>
        <source>Overload, reduce level!</source>
        <translation>Surcharge, baissez le niveau&#x202f;!</translation>
    </message>
    <message>
        <source>%1 – until %2</source>
        <extracomment>The main window&apos;s title while a timer runs: the program&apos;s name, then the clock time at which the noise stops.</extracomment>
        <translation>%1 – jusqu’à %2</translation>
    </message>
    <message>
        <source>%1
 does not contain options for Murmelin</source>
        <translation>%1
 ne contient pas de paramètres pour Murmelin</translation>
    </message>
    <message>
        <source>Wrong file type: &quot;%1&quot;</source>
        <translation>Type de fichier incorrect&#xa0;: «&#xa0;%1&#xa0;»</translation>
    </message>
</context>
<context>
    <name>murmelin::TForm2</name>
    <message>
        <source>&apos;&apos;%1&apos;&apos; is not a valid integer value</source>
        <translation>«&#xa0;%1&#xa0;» n’est pas un nombre entier valide</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a valid floating point value</source>
        <translation>«&#xa0;%1&#xa0;» n’est pas un nombre décimal valide</translation>
    </message>
    <message>
        <source>System default soundcard</source>
        <translation>Carte son par défaut du système</translation>
    </message>
    <message>
        <source>Never</source>
        <comment>stop after</comment>
        <translation>Jamais</translation>
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
        <translation>Lecture de bruit rose</translation>
    </message>
    <message>
        <source>murmelin: the computer may suspend while the noise plays: neither the desktop portal nor logind holds off suspend for it</source>
        <translation>murmelin&#xa0;: l’ordinateur peut se mettre en veille pendant la lecture du bruit&#xa0;: ni le portail du bureau ni logind ne l’en empêchent</translation>
    </message>
</context>
<context>
    <name>waveout</name>
    <message>
        <source>The operation completed successfully.</source>
        <translation>L’opération a réussi.</translation>
    </message>
    <message>
        <source>An unspecified error occurred in the sound system.</source>
        <translation>Une erreur non précisée s’est produite dans le système audio.</translation>
    </message>
    <message>
        <source>There is no output device with this number.</source>
        <translation>Il n’existe aucun périphérique de sortie portant ce numéro.</translation>
    </message>
    <message>
        <source>The sound system is not enabled.</source>
        <translation>Le système audio n’est pas activé.</translation>
    </message>
    <message>
        <source>The output device is busy or could not be opened.</source>
        <translation>Le périphérique de sortie est occupé ou n’a pas pu être ouvert.</translation>
    </message>
    <message>
        <source>The handle does not name an open output device.</source>
        <translation>Le descripteur ne désigne aucun périphérique de sortie ouvert.</translation>
    </message>
    <message>
        <source>No sound server is running, and no other sound output is available.</source>
        <translation>Aucun serveur de son ne tourne, et aucune autre sortie audio n’est disponible.</translation>
    </message>
    <message>
        <source>There is not enough memory for the operation.</source>
        <translation>La mémoire est insuffisante pour cette opération.</translation>
    </message>
    <message>
        <source>The output device does not support this operation.</source>
        <translation>Le périphérique de sortie ne prend pas en charge cette opération.</translation>
    </message>
    <message>
        <source>The error number is unknown.</source>
        <translation>Le numéro d’erreur est inconnu.</translation>
    </message>
    <message>
        <source>An invalid flag was given.</source>
        <translation>Un indicateur non valide a été donné.</translation>
    </message>
    <message>
        <source>An invalid parameter was given.</source>
        <translation>Un paramètre non valide a été donné.</translation>
    </message>
    <message>
        <source>The output device cannot play this sample format.</source>
        <translation>Le périphérique de sortie ne peut pas lire ce format d’échantillons.</translation>
    </message>
    <message>
        <source>Buffers are still queued on the output device.</source>
        <translation>Des tampons sont encore en attente sur le périphérique de sortie.</translation>
    </message>
    <message>
        <source>The buffer has not been prepared.</source>
        <translation>Le tampon n’a pas été préparé.</translation>
    </message>
    <message>
        <source>The output device can only be used synchronously.</source>
        <translation>Le périphérique de sortie ne peut être utilisé que de façon synchrone.</translation>
    </message>
    <message>
        <source>The sound server does not answer.</source>
        <translation>Le serveur de son ne répond pas.</translation>
    </message>
    <message>
        <source>The sound server or the output device went away.</source>
        <translation>Le serveur de son ou le périphérique de sortie a disparu.</translation>
    </message>
    <message>
        <source>Unknown sound system error %1.</source>
        <translation>Erreur %1 inconnue du système audio.</translation>
    </message>
</context>
</TS>
