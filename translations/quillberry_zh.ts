<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Quillberry</name>
    <message>
        <source>验证全部</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>设为IE代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消IE代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>清理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导入</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导出选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>【设置】</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>▲下载代理资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理列表:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>获取代理网址:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>菜单：收藏的代理、关于、退出</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>新增 %1 个，重复 %2 个</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry）1.8</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>尚有线程在运行，请等现有的线程停止后再退出。
不再启动新的线程，停止中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>退出警告</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法确定数据目录：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据目录 %1 正在被 %2 写入。

请等它结束后再启动 Quillberry。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillberry 已经在运行，它打开的数据目录是：
%1

这次启动要求的数据目录是：
%2

请先退出正在运行的程序，再用该目录启动。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 验证中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加菜单项</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请选择常用代理（要打勾）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>初始化</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开设置文件失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>未验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>超时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不匹配</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>密码不匹配</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不支持此协议</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证异常</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>            从文件中找不到有效代理。
注意，本软件只解析如下的代理格式：
代理地址:端口@协议类型$时间或状态#备注
（: @ $ #这四个符号的顺序不能颠倒）
如：61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#该代理不太稳定
其它格式代理，可以启用模糊匹配抓取。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>          从粘贴板中找不到有效代理。
注意，本软件只解析如下的代理格式：
代理地址:端口@协议类型$时间或状态#备注
（: @ $ #这四个符号的顺序不能颠倒）
如：61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#该代理不太稳定
其它格式代理，可以启用模糊匹配抓取。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下载超时、网页地址不对或找不到有效代理。
注意，本软件只解析如下的代理格式：
代理地址:端口@协议类型$时间或状态#备注
（: @ $ #这四个符号的顺序不能颠倒）
如：61.50.172.138:80
        61.50.172.138:80@HTTP
        61.50.172.138:80@HTTP$未验证#该代理不太稳定
其它格式代理，可以启用模糊匹配抓取。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导入完毕</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>粘贴完毕</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下载异常: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这个代理服务器已经存在列表中</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>输入错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理服务器类型错误。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理服务器地址错误。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>端口不能小于0，也不能大于65535。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>备注栏不能有分隔符：:、@、$、#、&lt;、&gt;、Tab和空格。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除选定的代理吗？删除数据后不能恢复！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除选定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除“连接失败”、“不匹配”和“超时”的代理吗？
删除数据后不能恢复！有些代理过段时间可能还可以用。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开文件失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导入列表</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>存盘</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有选择代理！可以用Shift/Ctrl键 + 鼠标左键一次选择多个代理。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>[常用]类型</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>服务器地址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>端口    </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>时间(s)/状态    </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>－备注－</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有验证资源，将自动装载缺省设置。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源名称不能为空。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源名称不能含有字符@和%。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源网址不能为空。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请添加协议头http://或ftp://。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证特征串不能为空。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>[验证]资源名称</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源网址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>特征字符串</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已经存在该验证资源网址。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源重复</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除选定的验证资源吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有验证资源要存盘。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>名称</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页地址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除选定的资源吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>名称不能为空或含空格符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页地址不能为空或含空格符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页超过了下载的大小上限，只读取了上限以内的完整行。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页中的代理超过了每个网页 %d 个的上限，只添加了前 %d 个。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下载资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有下载资源，请先添加。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有选择下载资源，请打勾。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页被截断: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>获取IE代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>创建自动代理脚本失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>创建</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开用户自定义代理自动配置模板失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>设置代理失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>桌面没有保存该设置：没有会话总线或设置服务保存它。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理在直接设置方式下没有对应的桌面代理设置条目，代理设置未作更改。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillberry 开发组 出品</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每一个代理，都要亲自验过；
每一次切换，只需轻点两下。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于 Ostrel代理验证（Quillberry）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>该代理上次验证失败，仍然设为系统代理吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillberry 开发组</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>帮助（%1）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>在代理列表中点击鼠标右键</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>复制代理 (&amp;C) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>设为IE代理 (&amp;S) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证选定 (&amp;V) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改选定 (&amp;M) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除选定 (&amp;D) </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>全选 (&amp;A)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>托盘菜单</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于『Ostrel代理验证』</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>退出</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>弹出对话框</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理信息</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>协议:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>服务器地址:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>服务端口:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>备注:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理资源</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>名称：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网页地址：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数值范围不对</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>参数设置</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2.使用最简单的代理自动配置脚本</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>3.使用自定义的代理自动配置脚本</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑自定义的代理自动配置模板</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>上网方式</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>添加验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>修改验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导出</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证参数</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接超时时间:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>秒</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证超时时间:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>并发线程数目:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>个</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>自动选择速度最快的</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每隔3小时自动验证全部代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>用户登录计算机后自动启动</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确认</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>启动时最小化</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>个代理为常用代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>启用模糊匹配抓取代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接超时时间应在1~15！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证超时时间应在1~30！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证线程数目应在1~100！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>常用代理数目应在1~15！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有能打开模板文件的程序。

模板文件是：
%1

要把它的路径复制到剪贴板，用其他编辑器打开吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑模板</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证结果</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源信息</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源名称：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证资源网址：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>特征字符串：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>停止验证</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>停止中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>...停止中</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>空列表，没有要验证的代理。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有选择要验证的代理！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有设定http验证资源，无法验证http代理服务器。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有设定ftp验证资源，无法验证ftp代理服务器。
请进入设置在ftp验证资源前打勾。继续吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>创建验证线程中发生异常</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请耐心等待验证的完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>等待验证完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证状态：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>地址无效    (%s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接站点%d    (%s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>异常错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>可用(%.1f)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不匹配(%.1f)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法连接代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理连接失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>密码错误</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理响应超时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>界面语言:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>界面语言将在下次启动时更改。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>界面语言</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>有密码时用户名不能为空；用户名和密码不能含有控制字符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>用户名:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>密码:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>该代理需要用户名和密码，但在当前的上网方式下桌面的代理设置无法保存它们（只有直接设置的HTTP代理可以），代理设置未作更改。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>选定的代理中有 %1 个带有用户名和密码。
导出的文件中也包含它们吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>，无法识别 %1 行</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口无法启动。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>系统代理正经由本机端口。关闭本机端口后，使用系统代理的程序将无法上网。
仍要关闭吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>保存选项文件失败！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>列表中还没有验证可用的代理，本机端口暂时无法转发连接。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口 %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口（未开启）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>经由本机端口</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>在线率</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>中位时间</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>匿名度</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>出口地址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>国家</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>透明</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>匿名</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>高匿</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证历史</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证历史数据库已损坏或无法读取，已改名为 %1 并重建一个空的历史。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法建立验证历史数据库 %1，本次不记录验证历史。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>位置数据库...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>策略:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>故障转移</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>轮流使用</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>最快优先</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>故障转移：脚本列出全部常用代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口应写作 地址:端口，例如 127.0.0.1:8899！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口的地址不是本机回环地址，网络上的其他计算机也能经由它使用你的代理。
确定吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>位置数据库</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理的所在地依次查自：数据目录中的 wry.dll；数据目录中的 .mmdb 文件（MaxMind 格式，例如 db-ip.com 免费的 IP to City Lite / IP to Country Lite，或 MaxMind 的 GeoLite2，需自行下载）；系统的国家数据库（/usr/share/GeoIP，Debian 的 geoip-database 软件包）。
本程序从不自行下载。要使用 .mmdb 文件，请把它放进数据目录：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>    匿名程度：%1    出口地址：%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证历史数据库已损坏，已改名为 %1；其中仍可读出的 %2 个结果已复制到新的历史中。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证历史数据库 %1 正被另一个程序占用，本次不记录验证历史。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>磁盘已满，无法写入验证历史数据库 %1，本次不记录验证历史。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本次验证有 %1 个结果没有记入验证历史 %2：%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>它正被另一个程序占用</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>磁盘已满</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>它已损坏</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>它无法读写</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>原来的 Setting.dat 已另存为 %1。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Proxies.pro 中有 %1 行不是代理，已另存于 %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网络库初始化失败。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;IE: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> IE: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法记下桌面原来的代理设置，取消代理时可能无法恢复它。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理失效时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>当本程序设置的代理无法再工作时（退出、崩溃、全部代理失效），系统代理该怎么办？

是：改为直接连接。您原来的设置恢复，程序照常上网，但不经过代理，会暴露本机地址。
否：阻断。不经代理什么也不发出，使用系统代理的程序将无法上网，直到代理恢复。

以后可在设置中更改。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>系统代理正经由本机端口，退出后本机端口随之关闭，使用系统代理的程序将全部无法上网，直到再次启动本程序或更改系统代理。

要先恢复您原来的系统代理设置再退出吗？
是：恢复后退出。否：保持阻断并退出。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>系统代理仍指向本程序的 %1，但那里已无应答（本程序上次没有正常退出）。
已按您的选择恢复原来的系统代理设置。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>系统代理仍指向本程序的 %1，但那里已无应答（本程序上次没有正常退出）。
按您的选择（阻断），系统代理保持不变：使用它的程序将无法上网，直到代理恢复或取消系统代理。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>另一个程序更改了系统代理，它已不再使用本程序设置的 %1。

要重新设置吗？选“否”则保留对方的设置。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>系统代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不使用代理（直接连接）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>经由代理 %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>经由本机端口 %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>使用代理自动配置脚本（%1）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 已无应答，使用系统代理的程序可能无法上网。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口可用的代理只剩 %1 个（少于 %2 个）。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 个代理中 %2 个可用，用时 %3 秒。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1.直接设置或取消代理（写入桌面的代理设置）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理失效时改为直接连接（会暴露本机地址）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ostrel代理验证（Quillberry） %1版(Build: %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>自由软件，依照 GPL-3.0-or-later 发布，不提供任何担保。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>欢迎使用 Quillberry</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillberry 收集公共代理服务器，验证哪些今天可以用，并把其中一个设为桌面的系统代理（也可以从托盘菜单切换）。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>主要的工作只有三步：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1. 复制一份代理列表，按“%1”（也可以导入文件，或从列表下方的代理网址下载）。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2. 按“%1”：每个代理都通过它去取验证资源的网页来检验，列表按速度排序。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>3. 选中一个最快的代理，把它设为系统代理（列表右边的按钮，或托盘菜单里的常用代理）。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>缺省的验证资源访问这些公共网站：%1。在【设置】中可以换成自己的验证资源。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下面两项会改动你的系统，已按缺省设置选好，请确认：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>以后启动时程序最小化到通知区域（托盘），单击托盘图标即可打开窗口。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这些都可以随时在【设置】中更改。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>开始使用</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确实要删除选定的 %1 个代理吗？删除数据后不能恢复！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证完毕: 可用 %1 个，失败 %2 个，最快 %3 秒，用时 %4 秒</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>验证完毕: 可用 0 个，失败 %1 个，用时 %2 秒</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>选定 %1 / 共 %2 个</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>选定 %1 / 显示 %2 / 共 %3 个</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>筛选 (Ctrl+F)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>只显示地址、类型、状态、备注或国家中含有这段文字的代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>只从本次验证可用（60 秒以内）的 HTTP 和 HTTPS 代理中选；SOCKS 等其他类型不会被自动选为常用代理。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>（本机端口）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>，有应答</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>，无应答</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>域名无法解析</source>
        <translation>域名无法解析</translation>
    </message>
    <message>
        <source>主机名太长：最多253个字符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>主机名中两点之间最多63个字符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IPv6地址不能带“%”和网卡名：那只在本机上有意义。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这不是有效的IPv6地址。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>主机名只能由字母、数字、“-”和“.”组成，最后一段不能全是数字。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>控制接口无法启动。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>定期检查使用中的代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>检查间隔(秒):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>检查超时(秒):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无客户端多久后停止检查(秒, 0=不停):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>最快优先的容差(毫秒):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连续失败几次后搁置:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>首次搁置(秒):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>最长搁置(秒):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>搁置时关闭经由它的连接</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>健康检查</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>粘性</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>同一目标主机始终经由同一代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>闲置多久后解除绑定(秒):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>客户端以用户名 session-KEY 或请求头 X-Quillberry-Session 绑定会话。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>控制接口</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>留空则关闭，如 127.0.0.1:8900</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>留空则不要求</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>监听地址:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>令牌:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本机端口选项</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>控制接口在窗口中只能监听本机地址(如 127.0.0.1:8900)。
要在其他地址上提供，请用 quillberry-cli serve --api。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>更多选项...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>令牌不能含有空格或控制字符。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TLS被拦截</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>内容被篡改</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TLS被拦截: %s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>内容被篡改(第%zu字节起)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法读取CA文件    (%s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>信任</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网络</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>干净</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>未检查</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>链式</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QuillberryHelp</name>
    <message>
        <source>Usage: quillberry [--data-dir DIR] [--lang zh|en] [--verify-all | --cancel-proxy]
       quillberry --help | --version

Opens the window of the proxy list: verification, the system proxy, the proxy
sources and the tray menu of favourites. One window runs per user: a later start
brings the running one forward.

--data-dir DIR   the directory of Proxies.pro, Setting.dat and the other data files
                 (default: the executable&apos;s directory when it is writable and not
                 an installed program&apos;s, otherwise ~/.local/share/Quillberry/)
--lang zh|en     the interface&apos;s language: Chinese or English (default: the
                 setting &quot;language&quot; of ~/.config/Quillberry/interface.ini, else
                 Chinese for a Chinese locale and English for any other)
--verify-all     verify the whole list, as the button &quot;验证全部&quot; does, in the running
                 window (one is started in the tray when none runs)
--cancel-proxy   clear the desktop&apos;s system proxy, as &quot;取消IE代理&quot; does, in the
                 running window (one is started in the tray when none runs)
--help           print this text
--version        print the version

Exit status: 0 when the window ran and was closed, or a running window was asked
to show itself or to do the work; 1 when it could not start (no data directory it
may use, or the instance&apos;s private directory is held by someone else); 4 when a
window runs on another data directory than the one asked for (it is brought
forward, and both directories are named); 5 when a command was writing the data
directory and did not finish within five seconds.
</source>
        <translation>用法: quillberry [--data-dir 目录] [--lang zh|en] [--verify-all | --cancel-proxy]
      quillberry --help | --version

打开代理列表的窗口：验证、系统代理、代理资源，以及常用代理的托盘菜单。每个用户只运行
一个窗口：再次启动会把正在运行的窗口提到前面。

--data-dir 目录   Proxies.pro、Setting.dat 等数据文件所在的目录（缺省：可执行文件所在
                 的目录，若它可写且不是安装的程序；否则 ~/.local/share/Quillberry/）
--lang zh|en     界面语言：中文或英文（缺省：~/.config/Quillberry/interface.ini 中的
                 设置 &quot;language&quot;；没有时，中文区域设置用中文，其他区域设置用英文）
--verify-all     在正在运行的窗口中验证整个列表，与按钮&quot;验证全部&quot;相同（没有窗口在
                 运行时，在托盘中启动一个）
--cancel-proxy   在正在运行的窗口中取消桌面的系统代理，与&quot;取消IE代理&quot;相同（没有窗口
                 在运行时，在托盘中启动一个）
--help           显示本说明
--version        显示版本

退出状态：0 窗口运行后被关闭，或已让正在运行的窗口显示自己或完成工作；1 无法启动
（没有可用的数据目录，或实例的私有目录被别人占用）；4 正在运行的窗口使用的数据目录
不是所要求的（它被提到前面，两个目录都会列出）；5 有命令正在写入数据目录，五秒内
没有结束。
</translation>
    </message>
    <message>
        <source>print the proxies found in a text or web page</source>
        <translation>列出文本或网页中找到的代理</translation>
    </message>
    <message>
        <source>split proxy lines into their five fields</source>
        <translation>把代理行拆成五个字段</translation>
    </message>
    <message>
        <source>print the location of an IPv4 or IPv6 address</source>
        <translation>列出 IPv4 或 IPv6 地址的所在地</translation>
    </message>
    <message>
        <source>print the settings and verification resources</source>
        <translation>列出设置和验证资源</translation>
    </message>
    <message>
        <source>get, set or clear the desktop&apos;s system proxy</source>
        <translation>读取、设置或取消桌面的系统代理</translation>
    </message>
    <message>
        <source>verify the proxies of the list or of a file</source>
        <translation>验证列表或文件中的代理</translation>
    </message>
    <message>
        <source>merge the outputs of verify runs (shares, resumed runs) into one list</source>
        <translation>把几次验证的输出（分份、续上的验证）合并成一个列表</translation>
    </message>
    <message>
        <source>download proxies from web pages or the ticked sources</source>
        <translation>从网页或打勾的资源下载代理</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli [--data-dir DIR] [--lang zh|en] COMMAND [ARGS...]
       quillberry-cli --help | --version

Commands:
</source>
        <translation>用法: quillberry-cli [--data-dir 目录] [--lang zh|en] 命令 [参数...]
      quillberry-cli --help | --version

命令:
</translation>
    </message>
    <message>
        <source>
--data-dir DIR  the directory of Proxies.pro, Setting.dat and the other data files
                (default: the program&apos;s data directory)
--lang zh|en    the language of the messages that come from the window&apos;s texts:
                Chinese or English (default: as for the window); what the
                commands print for other programs never changes with it
Run &apos;quillberry-cli COMMAND --help&apos; for a command&apos;s options.

Exit status: 0 done; 1 nothing found, a refusal, or the desktop&apos;s proxy settings
could not be read or written; 2 bad usage or a file that cannot be read; 3 a data
file could not be written (the old one is kept); 4 the data directory is being
written by the window or another command (nothing was changed).
</source>
        <translation>
--data-dir 目录  Proxies.pro、Setting.dat 等数据文件所在的目录
                （缺省：程序的数据目录）
--lang zh|en    来自窗口文字的消息所用的语言：中文或英文（缺省：与窗口相同）；
                命令为其他程序输出的内容不随语言改变
运行 &apos;quillberry-cli 命令 --help&apos; 查看命令的选项。

退出状态：0 完成；1 什么也没找到、被拒绝，或无法读写桌面的代理设置；2 用法错误
或文件无法读取；3 数据文件无法写入（旧文件保留）；4 数据目录正被窗口或另一个命令
写入（没有作任何更改）。
</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli lookup [--wry FILE] [--geoip-dir DIR] ADDRESS

Prints where an IPv4 or IPv6 address is: the country and the area, separated by one
blank, as an empty remark gets them; then &quot;source: &quot; and the file that answered.
The sources, first match wins: wry.dll in the data directory (or --wry FILE), every
*.mmdb in the data directory (city databases first), the system&apos;s GeoIP.dat and
GeoIPv6.dat (in /usr/share/GeoIP, or --geoip-dir DIR). A damaged source is named on
standard error and passed over.
Exit status: 0 found, 1 not found, 2 bad usage, an ADDRESS that is not an IP
address, or a --wry file that cannot be read.</source>
        <translation>用法: quillberry-cli lookup [--wry 文件] [--geoip-dir 目录] 地址

列出 IPv4 或 IPv6 地址的所在地：国家和地区，以一个空格隔开，与空备注所填的相同；再列出
“source: ”和给出答案的文件。
依次查找，先找到者为准：数据目录中的 wry.dll（或 --wry 文件）、数据目录中的每个 *.mmdb
（城市数据库在前）、系统的 GeoIP.dat 和 GeoIPv6.dat（在 /usr/share/GeoIP，或
--geoip-dir 目录）。损坏的来源在标准错误上列出并跳过。
退出状态：0 找到，1 没有找到，2 用法错误、地址不是 IP 地址，或 --wry 文件无法读取。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli parse [LINE...]

Splits each proxy line (address:port@type$time-or-status#remark), or each line of
standard input when no LINE is given, and prints the address, port, type,
time-or-status and remark separated by tabs, or the word &apos;invalid&apos;.</source>
        <translation>用法: quillberry-cli parse [代理行...]

拆分每个代理行（地址:端口@类型$时间或状态#备注），不给代理行时拆分标准输入的每一行，
并列出以制表符隔开的地址、端口、类型、时间或状态和备注，或者单词 &apos;invalid&apos;。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli [--data-dir DIR] download [--fuzzy] [URL...]
       quillberry-cli download [--fuzzy] [--format FORMAT] [--type TYPE] URL...

With URLs: downloads each page as a proxy source is downloaded (straight from its
server, never through a proxy; &quot;http://&quot; is put in front when missing) and prints
the proxy lines found, one per line, each proxy once, in the order found.
--format FORMAT prints them as line (the default), url (type://address:port), csv
(address,port,type,status,remark with a header; CR LF) or json (an array of
objects with those keys); --type TYPE prints only the proxies of one type, and
--working only those whose status is a measured time. --credentials adds the
user name and password that came with a proxy to url, csv and json (never
unless asked).

Without URLs: downloads the ticked sources of Sources.dat in the data directory
into its Proxies.pro, as the download button does, and prints one line per source:
its name and the number of proxies found, or why it failed.

--fuzzy  also find addresses and ports separated by blanks or markup instead of
         &apos;:&apos; (runs when the strict pass found at most 200 proxies on a page)

Limits per page: a page larger than 64 MiB is cut at its last whole line before
64 MiB, and at most %1 proxies are taken from one page (the rest of the page is
ignored). A page cut at either limit is named on standard error, with the limit
it hit.

Messages go to standard error.

Exit status with URLs: 0 when every page was downloaded (also when a page had no
proxies or was cut at a limit); 1 when a URL was skipped or its download failed
(each is named on standard error; the proxies of the other pages are still
printed) or the download could not run; 2 for bad usage (a bad format, or
--format, --type or --working without URLs, among it).
Exit status without URLs: 0 when every source was tried (also when some failed or
had no proxies); 1 when there was nothing to download or the download could not
run; 2 for bad usage or a data file that cannot be read; 3 when Proxies.pro could
not be saved (the message names it; the old file is kept); 4 when the data
directory is being written by another command, or by the window and the proxies
found could not be handed to it (nothing was changed).

While the window runs on the data directory it alone writes Proxies.pro: the
proxies found are handed to it, it adds the new ones to its list and saves it, and
the command prints how many were new.</source>
        <translation>用法: quillberry-cli [--data-dir 目录] download [--fuzzy] [网址...]
       quillberry-cli download [--fuzzy] [--format 格式] [--type 类型] 网址...

给出网址时：像下载代理资源一样下载每个网页（直接从网页的服务器下载，从不经过代理；
没有 &quot;http://&quot; 时补上），并列出找到的代理行，每行一个，每个代理一次，按找到的顺序。
--format 格式 把它们列为 line（缺省）、url（类型://地址:端口）、csv（带标题行的
address,port,type,status,remark；CR LF 换行）或 json（以这些为键的对象数组）；
--type 类型 只列出一种类型的代理，--working 只列出状态是测得的时间的代理。
--credentials 在 url、csv 和 json 中加入随代理给出的用户名和密码（不要求时从不加入）。

不给网址时：把数据目录中 Sources.dat 里打勾的资源下载到它的 Proxies.pro，与下载按钮
相同，并为每个资源列出一行：资源名称和找到的代理数，或失败的原因。

--fuzzy  也查找用空白或标记而不是 &apos;:&apos; 隔开的地址和端口（网页中严格匹配找到的代理
         不超过 200 个时进行）

每个网页的上限：大于 64 MiB 的网页在 64 MiB 之前的最后一个完整行处截断，每个网页最多
取 %1 个代理（网页的其余部分被忽略）。在任一上限处被截断的网页会在标准错误上列出，
并说明达到的是哪个上限。

消息输出到标准错误。

给出网址时的退出状态：0 每个网页都已下载（网页中没有代理或在上限处被截断时也是）；
1 有网址被跳过或下载失败（每个都在标准错误上列出；其他网页的代理照样列出），或无法
进行下载；2 用法错误（包括格式错误，或不给网址却给了 --format、--type 或 --working）。
不给网址时的退出状态：0 每个资源都已尝试（有些失败或没有代理时也是）；1 没有可下载的
内容或无法进行下载；2 用法错误或数据文件无法读取；3 Proxies.pro 无法保存（消息中会
说明；旧文件保留）；4 数据目录正被另一个命令写入，或正被窗口写入而找到的代理无法交给
它（没有作任何更改）。

窗口在该数据目录上运行时只由它写 Proxies.pro：找到的代理交给窗口，由它把新的代理加入
列表并保存，命令列出新增了多少个。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli extract [--fuzzy] [FILE]
       quillberry-cli extract [--fuzzy] [--format FORMAT] [--type TYPE]
                              [--working] [FILE]

Finds the proxies in FILE, or in standard input when FILE is missing or &apos;-&apos;,
read as one text the way a paste is, and prints each proxy line that would be
added to an empty list, one per line, in the order found.

--fuzzy          also find addresses and ports separated by blanks or markup
                 instead of &apos;:&apos; (runs when the strict pass found at most 200
                 proxies)
--format FORMAT  line (the proxy lines, the default), url (type://address:port),
                 csv (address,port,type,status,remark with a header; CR LF)
                 or json (an array of objects with those keys)
--type TYPE      only the proxies of one type (HTTP, HTTPS, SOCKS4, SOCKS5, FTP,
                 GOPHER)
--working        only the proxies whose status is a measured time
--credentials    with url, csv or json: also the user name and password that
                 came with a proxy (never unless asked)

Exit status 0, also when nothing was found (a message then goes to standard
error); 2 for a bad option or format or a file that cannot be read.</source>
        <translation>用法: quillberry-cli extract [--fuzzy] [文件]
       quillberry-cli extract [--fuzzy] [--format 格式] [--type 类型]
                              [--working] [文件]

在文件中（没有文件或文件为 &apos;-&apos; 时在标准输入中）查找代理，像粘贴一样作为一整段文字
读取，并列出会加入空列表的每个代理行，每行一个，按找到的顺序。

--fuzzy          也查找用空白或标记而不是 &apos;:&apos; 隔开的地址和端口（严格匹配找到的
                 代理不超过 200 个时进行）
--format 格式    line（代理行，缺省）、url（类型://地址:端口）、csv（带标题行的
                 address,port,type,status,remark；CR LF 换行）或 json（以这些为键的
                 对象数组）
--type 类型      只列出一种类型的代理（HTTP、HTTPS、SOCKS4、SOCKS5、FTP、GOPHER）
--working        只列出状态是测得的时间的代理
--credentials    用 url、csv 或 json 时，也输出随代理给出的用户名和密码（不要求时从不
                 输出）

退出状态 0，什么也没找到时也是（此时会有一条消息输出到标准错误）；2 选项或格式错误，
或文件无法读取。</translation>
    </message>
    <message>
        <source>carry connections through the working proxies on a local port</source>
        <translation>经由可用代理转发本地端口上的连接</translation>
    </message>
    <message>
        <source>answer requests with the headers and address they came with</source>
        <translation>以请求带来的请求头和地址回答请求</translation>
    </message>
    <message>
        <source>print the verification history: uptime, median time, results</source>
        <translation>列出验证历史：在线率、中位时间、各次结果</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli history [ADDR:PORT[@TYPE]] [--format line|csv|json] [--limit N]
       quillberry-cli history --check

Prints what the verification history (History.sqlite in the data directory) keeps.
The window and &apos;verify&apos; without FILE record every result there; &apos;verify FILE&apos;
does not, as a file&apos;s proxies are not the list&apos;s.

Without a proxy: one line per proxy, by name: its uptime (the share of successful
checks among its latest 20), the median time of those successful ones, the number
of checks kept, the last status, and the anonymity and exit address of the latest
result that had them (&apos;-&apos; for none).
With a proxy: its results, newest first: the time (UTC), the status, the seconds,
the resource, anonymity and exit address. Without @TYPE every type of that
address and port is shown.

--format FORMAT  line (blank-separated, the default), csv (with a header; CR LF)
                 or json (an array of objects)
--limit N        at most N lines (proxies, or results of the proxy)
--check          check the whole history for damage (a small one is checked at
                 every open); a damaged one is moved aside as
                 History.sqlite.damaged-&lt;time&gt; and what can still be read of it
                 is copied into a new one

The history is only read: a directory that cannot be written is read as well.

Exit status: 0 when something was printed (with --check: the history is sound);
1 when the history is empty or holds nothing of the proxy (with --check: it was
damaged and has been rebuilt); 2 for bad arguments or a history that cannot be
read; 4 when --check found damage but the window or another command has the data
directory open (nothing was moved).</source>
        <translation>用法: quillberry-cli history [地址:端口[@类型]] [--format line|csv|json] [--limit N]
      quillberry-cli history --check

列出验证历史（数据目录中的 History.sqlite）所记录的内容。窗口和不带文件的 verify
把每个结果记入其中；verify 文件不记录，因为文件中的代理不是列表中的代理。

不给代理时：每个代理一行，按名称排序：在线率（最近 20 次检查中成功的比例）、
其中成功检查的中位时间、保存的检查次数、最后状态，以及最近一次带有匿名度和出口
地址的结果中的这两项（没有时为“-”）。
给出代理时：它的各次结果，最新的在前：时间（UTC）、状态、秒数、验证资源、匿名度
和出口地址。不带 @类型 时列出该地址和端口的所有类型。

--format FORMAT  line（以空格分隔，缺省）、csv（带表头；CR LF）或 json（对象数组）
--limit N        最多 N 行（代理，或该代理的结果）
--check          检查整个历史是否损坏（较小的历史每次打开时都会检查）；损坏的历史
                 改名为 History.sqlite.damaged-&lt;时间&gt;，其中仍可读出的内容复制到
                 新的历史中

历史只被读取：不能写入的目录也可以读取。

退出状态：0 有输出（带 --check 时：历史完好）；1 历史为空或没有该代理的记录
（带 --check 时：历史已损坏并已重建）；2 参数错误或历史无法读取；4 --check 发现
损坏，但窗口或另一个命令正打开着数据目录（没有移动任何文件）。</translation>
    </message>
    <message>
        <source>It also exits 1 when there is no display to show the window on (the message names
DISPLAY and WAYLAND_DISPLAY; quillberry-cli does the program&apos;s jobs without one),
and 2 for an unknown option or a --lang other than zh or en.
</source>
        <translation>没有可以显示窗口的显示器时也以 1 退出（消息会列出 DISPLAY 和
WAYLAND_DISPLAY；quillberry-cli 不需要显示器也能完成程序的工作），
未知选项或 zh、en 以外的 --lang 以 2 退出。
</translation>
    </message>
    <message>
        <source>Machine-readable output: csv ends every row with a state column (after the others)
and json and jsonl add a state key beside the status: the status in English, one
of ok (a measured time), unverified, verifying, failed, timeout, mismatch,
password-mismatch, unsupported, error, or other (a text of the user&apos;s own). The
status itself stays as the list file holds it. json and jsonl write the port as a
number.</source>
        <translation>供程序读取的输出: csv 在每行最后加一列 state（在其他各列之后），json 和 jsonl
在 status 旁加一个 state 键: 用英文表示的状态，取值为 ok（测得的时间）、
unverified、verifying、failed、timeout、mismatch、password-mismatch、
unsupported、error，或 other（用户自己写的文字）。status 本身保持列表文件中的
原样。json 和 jsonl 都把端口写成数字。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli settings [--data-dir DIR]

Loads Setting.dat from the data directory as the program does at start-up and
prints the ten settings as key=value lines, then one line per verification
resource: the tick (1 or 0), the name, the URL and the feature string, separated
by tabs. Without Setting.dat, or without a resource in it, the built-in ones are
printed and standard error says so; nothing is written (the window&apos;s first start
saves the settings) and autorun is left alone.
Exit status: 0 loaded, 1 Setting.dat could not be read, 2 bad usage or a
--data-dir that does not exist.</source>
        <translation>用法: quillberry-cli settings [--data-dir 目录]

像程序启动时那样读取数据目录中的 Setting.dat，
先以 key=value 行打印十项设置，再为每个验证资源打印一行：勾选（1 或 0）、
名称、网址和特征字符串，以制表符分隔。没有 Setting.dat 或其中没有验证资源时，
打印内置的设置和资源并在标准错误上说明；不写入任何文件（由窗口的首次启动
保存设置），也不改动开机自启动。
退出状态: 0 已读取，1 无法读取 Setting.dat，2 用法错误或 --data-dir 不存在。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli proxy get
       quillberry-cli proxy set TEXT [--mode 0|1|2]
       quillberry-cli proxy clear [--mode 0|1|2]
       quillberry-cli proxy repair

get    prints the desktop&apos;s proxy server (empty line when none is stored).
set    makes TEXT (address:port, or a proxy line address:port@type) the desktop&apos;s
       proxy and prints what was set, as address:port@TYPE (nothing when the
       desktop did not keep it). A TEXT that is no valid proxy, or with --mode 0
       a GOPHER proxy (the desktop has no entry for it), is refused and the
       desktop&apos;s settings are left as they were. The address may be an IPv6
       address in brackets ([2001:db8::1]:8080) or a host name (gw.example:8080);
       it is printed, and stored, as the proxy list writes it.
clear  gives the desktop back the proxy setting it had before this program first
       set one (the user&apos;s own proxy, or none); without such a record it clears
       the desktop&apos;s proxy.
repair when the desktop still points at a proxy or local endpoint this program
       set and nothing answers there (the program did not exit normally), gives
       the desktop its earlier setting back, or, when Options.ini says to block
       (SystemProxy/WhenDown), leaves it and says so. Nothing to repair prints
       nothing. The user service quillberry-repair.service runs it at log-in
       (systemctl --user enable quillberry-repair.service).
set and clear write proxy.pac into the data directory, as the program does,
       then read the desktop&apos;s settings back: a store that accepted the change
       but did not keep it (no session bus or settings service) is a failure.
--mode 0 sets the proxy directly, 1 through the default auto-config script,
       2 through the script made from UserdefinedTemplate.pac (default: the
       setting m_nAutoProxyConfig in the data directory&apos;s Setting.dat).
       With Script/Failover on in Options.ini, the scripts list the favourite
       proxies after TEXT, fastest first, and end in DIRECT only with
       Script/AllowDirect on.
Exit status: 0 done, 1 the desktop&apos;s settings could not be read or written, did
not keep what was written (the failure and a line saying so are printed), or
TEXT was refused (nothing was changed), 2 bad usage or UserdefinedTemplate.pac
could not be read, 3 proxy.pac could not be written (each failure is named on
standard error), 4 set, clear or repair while the window runs on the data
directory or another command writes it (nothing was changed; the window repairs
at its start).</source>
        <translation>用法: quillberry-cli proxy get
      quillberry-cli proxy set 文字 [--mode 0|1|2]
      quillberry-cli proxy clear [--mode 0|1|2]
      quillberry-cli proxy repair

get    列出桌面的代理服务器（没有保存代理时为空行）。
set    把文字（地址:端口，或代理行 地址:端口@类型）设为桌面的代理，并以
       地址:端口@类型 列出所设置的内容（桌面没有保存时什么也不列出）。不是有效代理的
       文字，或在 --mode 0 下的 GOPHER 代理（桌面没有对应的条目），会被拒绝，桌面的
       设置保持原样。地址可以是方括号中的 IPv6 地址（[2001:db8::1]:8080）或主机名
       （gw.example:8080）；列出和保存时都按代理列表的写法。
clear  把桌面的代理设置恢复为本程序第一次设置代理之前的样子（用户自己的代理，或不用
       代理）；没有这样的记录时取消桌面的代理。
repair 桌面仍指向本程序设置的代理或本机端口、而那里已无应答（程序没有正常退出）时，
       恢复桌面原来的设置；Options.ini 选择阻断（SystemProxy/WhenDown）时保持不变并
       说明。没有需要修复的内容时什么也不列出。用户服务 quillberry-repair.service
       在登录时运行它（systemctl --user enable quillberry-repair.service）。
set 和 clear 像程序一样把 proxy.pac 写入数据目录，然后读回桌面的设置：接受了更改
       却没有保存的设置存储（没有会话总线或设置服务）算作失败。
--mode 0 直接设置代理，1 通过缺省的代理自动配置脚本，2 通过由
       UserdefinedTemplate.pac 生成的脚本（缺省：数据目录中 Setting.dat 的设置
       m_nAutoProxyConfig）。
       Options.ini 中 Script/Failover 打开时，脚本在文字之后按速度从快到慢列出常用
       代理，只有 Script/AllowDirect 打开时才以 DIRECT 结尾。
退出状态：0 完成；1 无法读取或写入桌面的设置，设置没有保存所写的内容（会列出失败和
说明它的一行），或文字被拒绝（没有作任何更改）；2 用法错误或无法读取
UserdefinedTemplate.pac；3 无法写入 proxy.pac（每个失败都在标准错误上列出）；4 窗口
在该数据目录上运行或另一个命令正在写入它时执行 set、clear 或 repair（没有作任何更改；
窗口在启动时自行修复）。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli judge [--listen ADDRESS:PORT]

Runs a proxy judge: an HTTP server that answers every GET with a page echoing
the request it received, one line per item: REMOTE_ADDR = the address the
connection came from, REMOTE_PORT, REQUEST_METHOD, REQUEST_URI,
SERVER_PROTOCOL, and HTTP_&lt;NAME&gt; = value for each header (X-Forwarded-For as
HTTP_X_FORWARDED_FOR). The page also holds the text &quot;QuillberryJudge&quot;.

Use its URL as the HTTP verification resource, with the feature string
REMOTE_ADDR (or QuillberryJudge): verifying then also tells each working proxy&apos;s
exit address and anonymity (transparent, anonymous or elite). Any other judge
page of this form works the same way. Run it on a host outside your own network
to judge public proxies.

--listen ADDRESS:PORT  where to listen (default localhost:8898; port 0 takes any
                       free one). localhost is both 127.0.0.1 and [::1] on one
                       port, so that a judge URL naming localhost judges each
                       proxy over IPv4 and IPv6; an address is listened on
                       alone. Only loopback serves this computer alone; any
                       other address must be named here

Prints the addresses it listens on, then runs until Ctrl-C or SIGTERM.
Exit status: 0 after Ctrl-C or SIGTERM; 1 when the address cannot be listened on;
2 for bad arguments.</source>
        <translation>用法: quillberry-cli judge [--listen 地址:端口]

运行代理判定页：一个 HTTP 服务器，对每个 GET 请求都回答一个网页，逐行回显所收到的请求：
REMOTE_ADDR = 连接的来源地址、REMOTE_PORT、REQUEST_METHOD、REQUEST_URI、
SERVER_PROTOCOL，以及每个请求头一行 HTTP_&lt;名称&gt; = 值（X-Forwarded-For 写作
HTTP_X_FORWARDED_FOR）。网页中还含有文字&quot;QuillberryJudge&quot;。

把它的网址用作 HTTP 验证资源，特征为 REMOTE_ADDR（或 QuillberryJudge）：验证时还会
得出每个可用代理的出口地址和匿名程度（transparent、anonymous 或 elite）。其他这种
形式的判定页同样可用。要判定公共代理，请在自己网络之外的主机上运行它。

--listen 地址:端口     监听的位置（缺省 localhost:8898；端口 0 使用任一空闲端口）。
                       localhost 是同一端口上的 127.0.0.1 和 [::1]，这样网址中写
                       localhost 的判定页会经 IPv4 和 IPv6 各判定每个代理一次；
                       给出地址时只监听该地址。只有回环地址只为本机服务；其他
                       地址必须在这里给出

列出监听的各个地址，然后一直运行，直到 Ctrl-C 或 SIGTERM。
退出状态：0 收到 Ctrl-C 或 SIGTERM 后；1 无法在该地址上监听；2 参数错误。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli [--data-dir DIR] refresh [--fuzzy] [--format text|json]
                      [--threads N] [--connect-timeout S] [--verify-timeout S]
                      [--http URL FEATURE] [--ftp URL FEATURE] [--watchdog S]

Keeps the list fresh without the window, in one run: downloads the ticked sources of
Sources.dat into Proxies.pro (as &apos;download&apos; without URLs does), verifies the whole
list (as &apos;verify&apos; without FILE does, recording every result in the history) and
deletes the history&apos;s results older than Options.ini&apos;s [History] KeepDays (90 by
default; 0 keeps them all). The data directory stays locked for the whole run: a
second refresh, or another command that writes the directory, waits two seconds
and then gives up with status 4. Proxies.pro is only ever replaced whole, so a run
that is killed leaves the list as it was before the last save, never a part of it.
A directory without ticked sources is only verified (said on standard error).

While the window runs on the data directory, the proxies found are handed to it
and it verifies its whole list itself, at once or, when it is busy, as soon as
what it is doing ends; the command does not wait for that verification.

--fuzzy       also find addresses and ports separated by blanks or markup
--format F    text (the default): one line per source, then what the verification
              and the thinning did; json: one object with the same (the keys
              sources, added, handed_to_window, window_verification, verified,
              history and exit)
--threads, --connect-timeout, --verify-timeout, --http, --ftp, --watchdog
              as for &apos;verify&apos; (default: the settings)

Messages go to standard error; no line per proxy is written there.

Exit status: 0 when every source was tried (also when some failed or had no
proxies) and the list was verified, or handed to the window; 1 when the download
stopped before every source was tried or the verification could not start (an
empty list, no HTTP resource); 2 for bad usage or a data file that cannot be
read; 3 when a data file could not be written (Proxies.pro, the history, or no
lock can be made because the directory cannot be written; the old files are
kept); 4 when the data directory is being written by another command, or by the
window and the proxies found could not be handed to it (nothing was changed).</source>
        <translation>用法: quillberry-cli [--data-dir 目录] refresh [--fuzzy] [--format text|json]
                      [--threads N] [--connect-timeout 秒] [--verify-timeout 秒]
                      [--http 网址 特征] [--ftp 网址 特征] [--watchdog 秒]

不用窗口，一次运行就让列表保持新鲜：把 Sources.dat 中打勾的资源下载到 Proxies.pro
（与不给网址的 &apos;download&apos; 相同），验证整个列表（与不给文件的 &apos;verify&apos; 相同，每个结果
都记入历史），并删除历史中早于 Options.ini 的 [History] KeepDays 天的结果（缺省 90；
0 全部保留）。整个运行期间数据目录保持锁定：第二个 refresh，或另一个写该目录的命令，
等待两秒后以状态 4 放弃。Proxies.pro 只会被整个替换，所以被杀掉的运行留下的是上一次
保存之前的列表，绝不会是其中一部分。没有打勾资源的目录只进行验证（在标准错误上说明）。

窗口在该数据目录上运行时，找到的代理交给窗口，由它自己验证整个列表：立即验证，或在它
正忙时，等手头的事结束后马上验证；命令不等待这次验证。

--fuzzy       也查找用空白或标记隔开的地址和端口
--format F    text（缺省）：每个资源一行，然后是验证和清理所做的事；json：一个包含
              同样内容的对象（键为 sources、added、handed_to_window、
              window_verification、verified、history 和 exit）
--threads, --connect-timeout, --verify-timeout, --http, --ftp, --watchdog
              与 &apos;verify&apos; 相同（缺省：设置中的值）

消息输出到标准错误；不会为每个代理在那里写一行。

退出状态：0 每个资源都已尝试（有些失败或没有代理时也是）且列表已验证，或已交给窗口；
1 下载在尝试完所有资源之前停止，或验证无法开始（列表为空、没有 HTTP 验证资源）；
2 用法错误或数据文件无法读取；3 数据文件无法写入（Proxies.pro、历史，或因目录无法
写入而无法建立锁；旧文件保留）；4 数据目录正被另一个命令写入，或正被窗口写入而找到的
代理无法交给它（没有作任何更改）。</translation>
    </message>
    <message>
        <source>download the ticked sources, verify the list and thin the history in one run</source>
        <translation>一次运行中下载打勾的资源、验证列表并清理历史</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli serve [--data-dir DIR] [--listen ADDRESS:PORT]
                            [--policy failover|round-robin|fastest] [--type TYPE[,TYPE]]
                            [--api ADDRESS:PORT [--api-token TOKEN]]
                            [--check-interval S] [--check-timeout S] [--lazy-after S]
                            [--tolerance MS] [--failures N] [--set-aside S]
                            [--set-aside-max S] [--close-tunnels yes|no]
                            [--keep-targets yes|no] [--sticky-lease S]

Runs the local endpoint: a proxy on ADDRESS:PORT that takes HTTP (requests and
CONNECT) and SOCKS5 from browsers and tools, and carries each connection through
one of the working proxies of the data directory&apos;s Proxies.pro, with the proxy&apos;s
stored log-on. A proxy that fails is replaced by the next one before the client
sees an error; one that keeps failing is set aside for a while (said on standard
error). The proxies in use are checked on an interval against the ticked HTTP
verification resource of Setting.dat; a proxy set aside comes back when a check
passes. A client that names a session (a log-on user session-KEY, or the header
X-Quillberry-Session) stays on one proxy while it uses it; --keep-targets yes
keeps each target host on one proxy too. The list is read again whenever it
changes on disk. Runs until Ctrl-C or SIGTERM. Nothing in the data
directory is written.

--listen ADDRESS:PORT  where to listen (default: Options.ini, else 127.0.0.1:8899).
                       Only a loopback address serves this computer alone; any
                       other must be named here and is reachable from the network
--policy POLICY        which proxy carries a connection: failover (the fastest that
                       works), round-robin (each connection the next one) or
                       fastest (the shortest time measured so far); default:
                       Options.ini, else failover
--type TYPE[,TYPE]     use only proxies of these types (HTTP, HTTPS, SOCKS4,
                       SOCKS5); default: Options.ini, else all of them
--api ADDRESS:PORT     also serve the control API there: the pool as JSON (/pool,
                       /count, /get), /mark-bad, /check and /metrics for
                       Prometheus (default: [Api] Listen of Options.ini, else off).
                       As with --listen, only a loopback address unless named here
--api-token TOKEN      ask every API request for this token (Authorization: Bearer
                       TOKEN); default: [Api] Token of Options.ini, else none
--check-interval S     check each proxy in use every S seconds; 0: no checks
--check-timeout S      how long a check&apos;s page may take once the proxy is through
--lazy-after S         no checks while no client came for S seconds; 0: never rest
--tolerance MS         fastest moves only to a proxy faster by more than MS
--failures N           failures in a row (connections or checks) that set a proxy
                       aside
--set-aside S          its first time aside, doubled each time up to
--set-aside-max S      this; then it is checked again
--close-tunnels yes|no close the connections open through a proxy set aside
                       Defaults: Options.ini, else 30, 10, 120, 150, 3, 30, 300, yes
--keep-targets yes|no  every connection to one target host goes through one proxy
--sticky-lease S       a session or target leaves its proxy S seconds after its
                       last use; defaults: Options.ini, else no and 600

Exit status: 0 after Ctrl-C or SIGTERM; 1 when the address cannot be listened on
(named on standard error); 2 for bad arguments or an unreadable list.</source>
        <translation>用法: quillberry-cli serve [--data-dir 目录] [--listen 地址:端口]
                           [--policy failover|round-robin|fastest] [--type 类型[,类型]]
                           [--api 地址:端口 [--api-token 令牌]]
                           [--check-interval 秒] [--check-timeout 秒] [--lazy-after 秒]
                           [--tolerance 毫秒] [--failures 次数] [--set-aside 秒]
                           [--set-aside-max 秒] [--close-tunnels yes|no]
                           [--keep-targets yes|no] [--sticky-lease 秒]

运行本地端点：在 地址:端口 上的一个代理，接受浏览器和工具的 HTTP（请求和 CONNECT）
与 SOCKS5 连接，并用代理保存的登录信息，经由数据目录的 Proxies.pro 中的一个可用代理
转发每个连接。失败的代理在客户端看到错误之前就由下一个代替；一再失败的代理被暂时搁置
（在标准错误上说明）。使用中的代理按间隔用 Setting.dat 中勾选的 HTTP 验证资源检查；
被搁置的代理在检查通过时重新使用。指明会话的客户端（登录用户名 session-KEY，或请求头
X-Quillberry-Session）在使用期间固定经由同一个代理；--keep-targets yes 使每个目标
主机也固定经由同一个代理。列表文件在磁盘上改变时重新读取。运行到 Ctrl-C 或 SIGTERM
为止。不写入数据目录中的任何文件。

--listen 地址:端口      监听的地址（缺省：Options.ini，否则 127.0.0.1:8899）。
                       只有环回地址才只为本机服务；其他地址必须在这里给出，
                       并且可以从网络访问
--policy 策略          由哪个代理转发连接：failover（可用的最快代理）、round-robin
                       （每个连接轮到下一个）或 fastest（到目前为止测得时间最短的）；
                       缺省：Options.ini，否则 failover
--type 类型[,类型]      只使用这些类型的代理（HTTP、HTTPS、SOCKS4、SOCKS5）；
                       缺省：Options.ini，否则全部
--api 地址:端口         同时在该地址提供控制接口：代理池的 JSON（/pool、/count、
                       /get）、/mark-bad、/check 以及供 Prometheus 读取的 /metrics
                       （缺省：Options.ini 的 [Api] Listen，否则关闭）。
                       与 --listen 一样，非环回地址必须在这里给出
--api-token 令牌        每个接口请求都须带上此令牌（Authorization: Bearer 令牌）；
                       缺省：Options.ini 的 [Api] Token，否则不需要
--check-interval 秒    每隔这么多秒检查每个使用中的代理；0：不检查
--check-timeout 秒     代理接通之后，检查的网页最多等待的时间
--lazy-after 秒        这么多秒没有客户端时不作检查；0：从不停止
--tolerance 毫秒       fastest 只换用快出这么多毫秒以上的代理
--failures 次数        连续失败（连接或检查）多少次后搁置代理
--set-aside 秒         第一次搁置的时间，每次加倍，最多到
--set-aside-max 秒     这个时间；之后再检查它
--close-tunnels yes|no 关闭经由被搁置代理的连接
                       缺省：Options.ini，否则 30、10、120、150、3、30、300、yes
--keep-targets yes|no  到同一目标主机的每个连接都经由同一个代理
--sticky-lease 秒      会话或目标在最后一次使用这么多秒后不再绑定其代理；
                       缺省：Options.ini，否则 no 和 600

退出状态：0 在 Ctrl-C 或 SIGTERM 之后；1 无法在该地址上监听（在标准错误上列出）；
2 参数错误或列表无法读取。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli merge [--format FORMAT] [--type TYPE] [--working] FILE...
       quillberry-cli [--data-dir DIR] merge --into-list FILE...

Merges the outputs of verify runs (the shares of one list verified with --shard,
on one machine or several, and runs resumed with --resume) into one list. Each
FILE (&apos;-&apos; for standard input) holds, one per line and mixed, list-file lines
(verify&apos;s line format, with or without the judge&apos;s anonymity and exit address
after a tab), JSON objects (--format jsonl) and proxy URLs (--format url, read
as unverified); or it is a CSV output (--format csv, known by its header line)
or a JSON array (--format json, a FILE that begins with &apos;[&apos;). The user and
password of an output written with --credentials are not read. Other lines,
records and objects (a line cut off when a run was stopped) are passed over and
counted on standard error.

A proxy (its address, port and type, as the list tells duplicates apart) is one
row. Of its results the last one read wins, the FILEs read in the order given
and each from top to bottom, so that a later run given later replaces an earlier
one; but a row still unverified (&quot;未验证&quot;) never replaces a result. The rows
are printed as a finished verification prints them: sorted by time, fastest
first, then the failures; rows of equal rank in the order first read.

--format FORMAT  line (the list-file lines, the default), url, csv or json, as
                 for verify
--type TYPE      print only the rows of one type
--working        print only the rows whose status is a measured time
--into-list      instead of printing, write the rows into the data directory&apos;s
                 Proxies.pro: a proxy already in the list takes the merged
                 result (its remark stays), a new one is added; the list is then
                 sorted as after a verification. Every result of a jsonl line
                 that says when and against what it was checked (&quot;checked&quot; and
                 &quot;resource&quot;, written by verify --format jsonl) is recorded in the
                 history at that time, once: a check the history already holds
                 (the same proxy, time and resource) is not recorded again.
                 Results without a time (other forms, older outputs) are not
                 recorded and are counted on standard error.

Exit status: 0 done (also when no row was found); 2 bad usage or a FILE that
cannot be read; 3 Proxies.pro or the history could not be written (the old
list is kept; merging again records nothing twice); 4 the
data directory is open in the window or being written by another command
(nothing was changed; import the merged lines in the window instead).</source>
        <translation>用法: quillberry-cli merge [--format 格式] [--type 类型] [--working] 文件...
      quillberry-cli [--data-dir 目录] merge --into-list 文件...

把 verify 的几次输出（用 --shard 在一台或几台机器上分份验证同一个列表的各份，以及用
--resume 续上的验证）合并成一个列表。每个文件（&apos;-&apos; 为标准输入）或者每行一项、可以
混杂：列表文件中的行（verify 的 line 格式，后面可以带有制表符和代理判定页给出的匿名程度与
出口地址）、JSON 对象（--format jsonl）和代理 URL（--format url，当作未验证读入）；或者
是一个 CSV 输出（--format csv，按其标题行识别）或一个 JSON 数组（--format json，以 &apos;[&apos;
开头的文件）。用 --credentials 写出的输出中的用户名和密码不读入。其他的行、记录和对象（验证
被停止时截断的行）略过，并在标准错误上统计其数目。

一个代理（按其地址、端口和类型，与列表判断重复的方法相同）占一行。它的几个结果中最后读到
的那个有效：文件按给出的顺序、每个文件从上到下读，因此后给出的较新的验证取代较早的；但仍
未验证（&quot;未验证&quot;）的行从不取代已有的结果。各行像验证完成后那样列出：按时间排序，最快的在
前，然后是失败的；次序相同的行按最先读到的顺序。

--format 格式    line（列表文件中的行，缺省）、url、csv 或 json，与 verify 相同
--type 类型      只列出一种类型的行
--working        只列出状态是测得的时间的行
--into-list      不列出，而是把各行写入数据目录的 Proxies.pro：列表中已有的代理采用合并后的
                 结果（备注不变），新的代理加到列表中；然后像验证之后那样排序列表。jsonl
                 行中注明了验证时间和资源的结果（&quot;checked&quot; 和 &quot;resource&quot;，由 verify
                 --format jsonl 写出）都按其验证时间记入验证历史，且只记一次：历史中已有的
                 验证（同一代理、同一时间、同一资源）不再重复记录。没有时间的结果（其他格式、
                 旧版本的输出）不记入历史，其数目在标准错误上列出。

退出状态：0 完成（没有找到任何行时也是）；2 用法错误或文件无法读取；3 Proxies.pro 或验证
历史无法写入（保留原来的列表；再次合并不会重复记录）；4 数据目录在窗口中打开或正被另一个命令写入（没有做任何改动；请改在
窗口中导入合并后的行）。</translation>
    </message>
    <message>
        <source>Usage: quillberry-cli verify [--data-dir DIR] [--threads N] [--connect-timeout S]
                             [--verify-timeout S] [--http URL FEATURE] [--ftp URL FEATURE]
                             [--watchdog S] [--format FORMAT] [--type TYPE] [--working]
                             [--shard K/N] [--resume OUTPUT]
                             [--resume-history SINCE] [FILE]

Verifies every proxy of FILE (any text, read as the import command reads a file),
or without FILE the data directory&apos;s Proxies.pro, exactly as the button
&quot;验证全部&quot; does, then prints each row as its list-file line in the list&apos;s final
order (sorted by time). Proxies.pro (and the favourite marks in the profile) are
written back only when the data directory&apos;s own list was verified; then every
result is also recorded in the history (History.sqlite, see the history command).

--threads N          proxies checked at once, 1 to 10000 (default: the settings&apos;
                     number of workers); --concurrency N is the same. The checks
                     share a few event loops, not a thread each. The open-file
                     limit is raised as far as the system allows; when it still
                     cannot hold N checks, standard error says so and the run
                     checks as many at once as it holds
--connect-timeout S  connection time-out in seconds (default: the settings)
--verify-timeout S   reply time-out in seconds, to the millisecond (e.g. 0.3):
                     no byte for that long after the request ends a check
                     (default: the settings)
--http URL FEATURE   the HTTP resource: a page that must contain FEATURE
--ftp URL FEATURE    the FTP resource (a log-on test). Without one, FTP proxies are
                     skipped (they keep their texts; standard error counts them)
                     With neither, the resources ticked in the settings are used;
                     with either, exactly the ones given.
--format jsonl       one JSON object per proxy (address, port, type, status,
                     remark; checked, the UTC seconds of the check, and resource,
                     the URL checked), printed as each result comes in, not sorted
--resume OUTPUT      with FILE: skip the proxies that an earlier --format jsonl
                     OUTPUT already holds (append the new run to it)
--resume-history SINCE
                     with FILE: skip the proxies that the data directory&apos;s history
                     has a result for since SINCE: a span before now (90m, 36h, 7d,
                     2w) or a date or time (2026-12-01, 2026-12-01T08:30, local
                     time; a trailing Z for UTC)
--shard K/N          with FILE: verify only share K of N (1 to N) of its proxies,
                     chosen by a hash of each proxy&apos;s address, port and type, so
                     that N machines given the same FILE verify disjoint shares
                     whose outputs together cover it
--watchdog S         seconds after which a transfer that has not ended is given up
                     (default 90)
--format FORMAT      how the rows are printed: line (the list-file lines, the
                     default), url (type://address:port), csv (address,port,type,
                     status,remark with a header; CR LF) or json (an array of
                     objects with those keys)
--type TYPE          print only the rows of one type (HTTP, HTTPS, SOCKS4, SOCKS5,
                     FTP, GOPHER); every row is still verified and saved
--working            print only the rows whose status is a measured time
--credentials        with url, csv or json: also each proxy&apos;s user name and
                     password (from FILE, or the data directory&apos;s store)

With a judge page as the HTTP resource (one that echoes the request it received,
with a &quot;REMOTE_ADDR = address&quot; line, as &apos;quillberry-cli judge&apos; serves), each working
proxy&apos;s anonymity (transparent, anonymous or elite) and exit address are printed
too: line adds a tab, the anonymity, a tab and the exit address after the proxy&apos;s
line; csv adds the columns anonymity and exit; json the keys anonymity and exit.
A judge whose URL names a host with both an IPv4 and an IPv6 address (localhost,
on which &apos;quillberry-cli judge&apos; listens over both by default) is asked through
each proxy over each family: a proxy that leaves over both has both exit
addresses in its one exit field, IPv4 first (&quot;127.0.0.1, ::1&quot;).

A proxy may be named by an IPv6 address in brackets ([2001:db8::1]:1080) or by a
host name. Each name is looked up once per run, beside the checks and within the
connection time-out; a proxy waits for its name without taking a place among the
checks at once, and its time counts from its connection. A name without an
address gives &quot;域名无法解析&quot; (state unresolved).

Progress goes to standard error: a bar on a terminal, otherwise one line per
finished proxy. Ctrl-C stops the run like the stop button (rows not yet started
keep their texts) and still prints and saves; a second Ctrl-C (or SIGTERM) gives
up the rows in flight at once (they show &quot;未验证&quot;).

Exit status: 0 after a finished or stopped run; 1 when the run could not start
(empty list, no HTTP resource, only FTP proxies and no FTP resource, ...); 2 for
bad arguments (a bad format among them) or an unreadable file;
3 when a data file could not be written (named on standard error); 4 when the
data directory&apos;s own list is open in the window or being written by another
command (nothing was verified; give a FILE, or verify in the window).</source>
        <translation>用法: quillberry-cli verify [--data-dir 目录] [--threads N] [--connect-timeout S]
                            [--verify-timeout S] [--http 网址 特征] [--ftp 网址 特征]
                            [--watchdog S] [--format 格式] [--type 类型] [--working]
                            [--shard K/N] [--resume 输出]
                            [--resume-history 起点] [文件]

验证文件（任何文字，像导入命令读取文件一样读取）中的每个代理，不给文件时验证数据目录的
Proxies.pro，与按钮&quot;验证全部&quot;完全相同，然后按列表最终的顺序（按时间排序）把每一行列为
它在列表文件中的行。只有验证的是数据目录自己的列表时，才写回 Proxies.pro（以及配置
文件中的常用代理标记），并把每个结果记入验证历史（History.sqlite，见 history 命令）。

--threads N          同时验证的代理数，1 到 10000（缺省：设置中的工作线程数）；
                     --concurrency N 与之相同。这些验证共用几个事件循环，而不是
                     各占一个线程。打开文件数的限制会尽量提高；仍容纳不下 N 个
                     验证时，标准错误会说明，并按能容纳的数目同时验证
--connect-timeout S  连接超时秒数（缺省：设置）
--verify-timeout S   应答超时秒数，精确到毫秒（如 0.3）：发出请求后这么久没有收到
                     一个字节，验证即告结束（缺省：设置）
--http 网址 特征      HTTP 验证资源：必须含有该特征的网页
--ftp 网址 特征       FTP 验证资源（登录测试）。没有它时跳过 FTP 代理（它们保留原来的
                     文字；标准错误上会统计它们的数目）
                     两者都不给时使用设置中打勾的资源；给出任一个时只用给出的资源。
--watchdog S         一次传输多少秒还没有结束就放弃它（缺省 90）
--format 格式        各行的列出方式：line（列表文件中的行，缺省）、url（类型://地址:
                     端口）、csv（带标题行的 address,port,type,status,remark；CR LF
                     换行）或 json（以这些为键的对象数组）
--format jsonl       每个代理一个 JSON 对象（address、port、type、status、remark；
                     checked 为验证时的 UTC 秒数，resource 为验证所用的 URL），
                     每得到一个结果就立即输出，不排序
--resume 输出        给出文件时：跳过先前 --format jsonl 的输出中已有的代理（把这次
                     的输出追加到它后面）
--resume-history 起点
                     给出文件时：跳过数据目录的验证历史中自起点以来有结果的代理；起点
                     是距现在的一段时间（90m、36h、7d、2w）或日期、时间（2026-12-01、
                     2026-12-01T08:30，本地时间；末尾加 Z 为 UTC）
--shard K/N          给出文件时：只验证其代理中 N 份里的第 K 份（1 到 N），按每个代理
                     的地址、端口和类型的散列值划分，因此拿到同一个文件的 N 台机器
                     验证互不相交的几份，它们的输出合起来就是全部
--type 类型          只列出一种类型的行（HTTP、HTTPS、SOCKS4、SOCKS5、FTP、GOPHER）；
                     每一行照样验证和保存
--working            只列出状态是测得的时间的行
--credentials        用 url、csv 或 json 时，也输出每个代理的用户名和密码（来自文件，
                     或数据目录的存储）

HTTP 验证资源是代理判定页（回显所收到请求的网页，含有&quot;REMOTE_ADDR = 地址&quot;一行，
如 &apos;quillberry-cli judge&apos; 提供的）时，还列出每个可用代理的匿名程度（transparent、
anonymous 或 elite）和出口地址：line 在代理的行后加上制表符、匿名程度、制表符和出口地址；
csv 增加 anonymity 和 exit 两列；json 增加 anonymity 和 exit 两个键。
判定页网址中的主机同时有 IPv4 和 IPv6 地址时（例如 localhost，&apos;quillberry-cli judge&apos;
缺省在两者上监听），会经每个代理从两个协议族各访问一次：从两者都能出去的代理，其出口
字段中有两个出口地址，IPv4 在前（&quot;127.0.0.1, ::1&quot;）。

代理可以用方括号中的 IPv6 地址（[2001:db8::1]:1080）或主机名给出。每个主机名每次验证
只解析一次，与验证并行，时限为连接超时；代理等待其主机名时不占用同时验证的名额，它的
时间从连接时算起。没有地址的主机名显示&quot;域名无法解析&quot;（状态 unresolved）。

进度输出到标准错误：在终端上是进度条，否则每完成一个代理一行。Ctrl-C 像停止按钮一样
停止验证（尚未开始的行保留原来的文字），照样列出并保存；第二次 Ctrl-C（或 SIGTERM）
立即放弃正在验证的行（它们显示&quot;未验证&quot;）。

退出状态：0 验证完成或被停止；1 无法开始验证（空列表、没有 HTTP 资源、只有 FTP 代理
而没有 FTP 资源……）；2 参数错误（包括格式错误）或文件无法读取；
3 数据文件无法写入（在标准错误上列出）；4 数据目录自己的列表在窗口中打开或正被另一个
命令写入（没有验证任何代理；请给出文件，或在窗口中验证）。</translation>
    </message>
</context>
</TS>
