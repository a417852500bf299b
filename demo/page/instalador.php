<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<!-- The launcher's view on Windows is the WebBrowser control: without this
     it would show the page in its oldest document mode. -->
<meta http-equiv="X-UA-Compatible" content="IE=edge">
<title>Glimmerhold</title>
<link rel="stylesheet" href="launcher.css">
</head>
<body xwidth="900" xheight="560">
<div id="frame">
  <header>
    <div id="crest" aria-hidden="true"></div>
    <div id="title">
      <h1>GLIMMERHOLD</h1>
      <p id="tagline"></p>
    </div>
    <div id="boton-cerrar" title="Close">&#x2715;</div>
  </header>

  <main>
    <section id="news">
      <h2 id="news-title"></h2>
      <article>
        <h3 id="news-head"></h3>
        <p id="news-body"></p>
      </article>
      <a id="notes-link" href="#" xhref="https://glimmerhold.example/patch-notes"></a>
    </section>
    <aside id="realm">
      <div class="realm-row"><span id="realm-label"></span><span class="realm-online">&#9679; Online</span></div>
      <div class="realm-row"><span id="version-label"></span><span id="version">1.4.2</span></div>
    </aside>
  </main>

  <footer>
    <div id="progress-block">
      <div id="status">&nbsp;</div>
      <div id="track"><div id="bar"></div><div id="percent">0%</div></div>
    </div>
    <div id="boton-jugar" class="disabled"><span id="play-label">Play</span></div>
  </footer>
</div>
<script src="launcher.js"></script>
</body>
</html>
