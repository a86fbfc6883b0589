// The preset stations: one address per station button, ten genre columns of
// ten. Entry k - 1 belongs to the button captioned k. Entry 0 is also the
// address the program starts with when it has no settings yet.
//
// The addresses come in the forms a listener meets in the wild: playlist
// links (.pls, directory tune-in links, .m3u) and direct streams given by
// address and port, by host name and port, or by host, port and mount path.
#include "StationAddresses.h"

const std::array<const char*, 100> StationAddresses = {
    // Funk: funk, soul, R&B and disco
    "http://somafm.com/7soul.pls",                                      // 1 Seven Inch Soul (SomaFM)
    "http://www.wefunkradio.com/play/radio.pls",                        // 2 WEFUNK Radio
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=83968",         // 3 181.fm True R&B
    "http://185.33.22.15:11121",                                        // 4 1.FM Funky Express
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=97102",         // 5 DEFJAY.COM 100% R&B
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=1543115",       // 6 BlackBeats.FM
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=2128868",       // 7 #Musik.House Funky
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=65456",         // 8 DEFJAY.DE
    "http://198.100.145.185:8772",                                      // 9 Love Soul Radio London
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=8318",          // 10 Hot 108 Jamz

    // Jazz
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=172098",        // 11 SmoothJazz.com Global
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=209680",        // 12 ABC Jazz
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=98600",         // 13 TheJazzGroove.com
    "http://www.181.fm/stream/pls/181-bebop.pls",                       // 14 181.FM BeBop Jazz
    "http://192.211.51.158:5014",                                       // 15 96.9 The Oasis
    "http://136.243.79.109:2590",                                       // 16 4Drive Jazz
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=1269641",       // 17 SwissGroove (also slot 70)
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=496891",        // 18 Absolutely Smooth Jazz
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=133405",        // 19 181.fm The Breeze
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=1272149",       // 20 Dinner Jazz Excursion

    // World: Indian, Celtic, reggae, Caribbean, Arabic
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=676871",        // 21 Bollywood hits
    "http://somafm.com/suburbsofgoa.pls",                               // 22 Suburbs of Goa (SomaFM)
    "http://somafm.com/thistle.pls",                                    // 23 ThistleRadio (SomaFM)
    "http://www.181.fm/stream/pls/181-reggae.pls",                      // 24 181.FM Reggae Roots
    "http://icecast.radiofrance.fr:80/fipworld-midfi.mp3",              // 25 FIP Monde
    "http://167.114.131.90:5908",                                       // 26 RFI 102.1 FM St Lucia
    "http://stream.laut.fm/rpi-world-music-radio.pls",                  // 27 RPI World Music Radio
    "http://209.208.78.199:9000",                                       // 28 RasCast Radio
    "http://5.135.154.69:11784",                                        // 29 Blueprint Tony Culture
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=326370",        // 30 Arabic Music Radio

    // Blue&Rock: blues, rock and metal
    "http://5.135.154.69:11590",                                        // 31 Metal Express Radio
    "http://equinox.shoutca.st:8788",                                   // 32 All Blues Radio
    "http://46.105.122.141:6664",                                       // 33 Sonora Classic Rock
    "http://streams.calmradio.com:3728",                                // 34 Calm Radio Blues
    "http://173.208.177.90:9322",                                       // 35 Freedom Rock Radio
    "http://107.150.57.186:8460",                                       // 36 Purerock.fm
    "http://www.181.fm/stream/pls/181-blues.pls",                       // 37 181.FM True Blues
    "http://somafm.com/bagel.pls",                                      // 38 BAGeL Radio (SomaFM)
    "http://somafm.com/metal.pls",                                      // 39 Metal Detector (SomaFM)
    "http://stream.laut.fm/bluesrockcafe.pls",                          // 40 BluesRockCafe

    // Retro: oldies, 70s and 80s
    "http://somafm.com/seventies.pls",                                  // 41 Left Coast 70s (SomaFM)
    "http://somafm.com/u80s.pls",                                       // 42 Underground 80s (SomaFM)
    "http://www.181.fm/stream/pls/181-goodtime.pls",                    // 43 181.FM Good Time Oldies
    "http://radio.alloldieschannel.com:8000/stream",                    // 44 All Oldies Channel
    "http://176.31.118.194:26094",                                      // 45 Solid Gold Fox Oldies
    "http://176.31.244.83:12684",                                       // 46 Philly Jersey Kewl 98
    "http://158.69.114.190:8024",                                       // 47 The Big 80s Station
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=727560",        // 48 The Doo-Wop Express
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=37833",         // 49 1.FM 50s & 60s
    "http://158.69.227.214:8113",                                       // 50 Retro80sRadio

    // Radio: news, talk and general stations
    "http://sc.brtk.net:8008",                                          // 51 Bayrak Radyo Haber
    "http://icecast.omroep.nl:80/radio1-bb-mp3",                        // 52 NPO Radio 1
    "http://radiostream.akado.ru/playlist/radio.m3u?station=europaplus&stream=128", // 53 Europa Plus
    "http://live.str3am.com:7820",                                      // 54 West Virginia Public Radio
    "http://www.deutschlandradio.de/streaming/dlf.m3u",                 // 55 Deutschlandfunk
    "http://radiostream.akado.ru/playlist/radio.m3u?station=kissfm&stream=128",     // 56 Kiss FM
    "http://icecast.radiofrance.fr:80/franceinfo-midfi.mp3",            // 57 franceinfo
    "http://tektite.streamguys1.com:5140/wwnolive-mp3",                 // 58 WWNO 89.9 New Orleans
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=179361",        // 59 89.3 KPCC
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=632915",        // 60 KPBS

    // Latino: salsa, tropical and Latin pop
    "http://www.181.fm/stream/pls/181-salsa.pls",                       // 61 181.FM Salsa
    "http://radio.domiplay.net:2002",                                   // 62 Salsa Dominicana
    "http://5.135.154.72:8520",                                         // 63 ZonaSalsa
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=835183",        // 64 Salsa (SKY.FM)
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=96644",         // 65 La X Estereo Pura Salsa
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=1593716",       // 66 Suave 107.3 FM
    "http://playerservices.streamtheworld.com/m3u/TROPICANA.m3u",       // 67 Tropicana Bogota
    "http://176.31.120.166:4450",                                       // 68 La Catedral de la Salsa
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=381441",        // 69 Latin.FM
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=1269641",       // 70 SwissGroove (as slot 17)

    // Modern: electronic, dance and pop
    "http://198.100.145.187:18304",                                     // 71 C-Dance
    "http://www.bassdrive.com/v2/streams/BassDrive.m3u",                // 72 Bassdrive
    "http://173.208.177.90:13028",                                      // 73 House Heads UK Radio
    "http://stream.frenchkissfm.com:80",                                // 74 French Kiss FM
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=1377200",       // 75 TechnoBase.FM
    "http://94.228.133.5:8360",                                         // 76 Cool Dance Radio
    "http://176.31.98.109:8838",                                        // 77 Energy FM
    "http://fr1.1mix.co.uk:8060",                                       // 78 1Mix EDM Radio
    "http://lw3.mp3.tb-group.fm:80/trb.mp3",                            // 79 TranceBase.FM
    "http://ice1.somafm.com:80/poptron-128-mp3",                        // 80 PopTron (SomaFM)

    // Classik: classical
    "http://www.181.fm/stream/pls/181-classical.pls",                   // 81 181.FM Classical Music
    "http://148.228.50.32:8000",                                        // 82 Radio BUAP
    "http://65.21.202.84:8715",                                         // 83 Radio Malvern Classical
    "http://116.202.241.212:8010",                                      // 84 Venice Classic Radio
    "http://62.149.196.16:8010",                                        // 85 ClassicalRadio (MRG.fm)
    "http://allclassical-ice.streamguys.com:80/ac96k",                  // 86 All Classical Portland
    "http://media-ice.musicradio.com:80/ClassicFMMP3",                  // 87 Classic FM
    "http://giosa.radioca.st",                                          // 88 Italy Classical Radio
    "http://streams.br.de/br-klassik_2.m3u",                            // 89 BR-Klassik
    "http://149.255.60.195:8029",                                       // 90 Classical Gold

    // Relax: ambient, chill-out and sleep
    "http://149.56.234.138:8169",                                       // 91 Sleep Radio
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=619161",        // 92 Bluemars
    "http://91.121.38.216:8054",                                        // 93 Radio Play Emotions
    "http://ice1.somafm.com:80/groovesalad-128-mp3",                    // 94 Groove Salad (SomaFM)
    "http://85.195.88.149:10636",                                       // 95 delicious.beach
    "http://manager7.streamradio.fr:1050",                              // 96 ABC Relax
    "http://yp.shoutcast.com/sbin/tunein-station.pls?id=412093",        // 97 New Age (SKY.FM)
    "http://somafm.com/dronezone.pls",                                  // 98 Drone Zone (SomaFM)
    "http://radio.stereoscenic.com:80/asp-s",                           // 99 Ambient Sleeping Pill
    "http://live.audiosanctuary.org:8015/MP3-128_autodj",               // 100 AudioSanctuary
};
